#pragma once

#include <windows.h>

#include <cstring>
#include <string>

// Catches this process's next OutputDebugStringA string the way a debug-output viewer
// does (the DBWIN_BUFFER shared memory), so tests see the exact bytes sent.
class DebugCapture {
public:
    DebugCapture()
    {
        bufferReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
        dataReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
        mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                      L"DBWIN_BUFFER");
        view_ = static_cast<char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
        SetEvent(bufferReady_);
    }
    ~DebugCapture()
    {
        UnmapViewOfFile(view_);
        CloseHandle(mapping_);
        CloseHandle(dataReady_);
        CloseHandle(bufferReady_);
    }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    bool ready() const { return view_ != nullptr; }

    // The string sent since the capture was armed; empty when none arrived.
    std::string next()
    {
        if (WaitForSingleObject(dataReady_, 2000) != WAIT_OBJECT_0)
            return {};
        const char* text = view_ + sizeof(DWORD);
        std::string received(text, strnlen(text, 4096 - sizeof(DWORD)));
        SetEvent(bufferReady_);
        return received;
    }

private:
    HANDLE bufferReady_ = nullptr;
    HANDLE dataReady_ = nullptr;
    HANDLE mapping_ = nullptr;
    char* view_ = nullptr;
};
