#pragma once

#include <windows.h>

#include <cstring>
#include <string>

// Catches this process's next OutputDebugStringA string the way a debug-output viewer
// does (the DBWIN_BUFFER shared memory), so tests see the exact bytes sent.
//
// The buffer is one for the whole prefix, and ctest runs two test programs at once:
// the other one's log lines are passed over by their process id, and a second
// capture waits for the first to end, since two listeners would take each other's
// strings.
class DebugCapture {
public:
    DebugCapture()
    {
        listener_ = CreateMutexW(nullptr, FALSE, L"Local\\ZorvikTestDebugCapture");
        if (listener_ != nullptr)
            WaitForSingleObject(listener_, INFINITE);
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
        if (listener_ != nullptr) {
            ReleaseMutex(listener_);
            CloseHandle(listener_);
        }
    }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    bool ready() const { return listener_ != nullptr && view_ != nullptr; }

    // The string this process sent since the capture was armed; empty when none
    // arrived within 2 s.
    std::string next()
    {
        const ULONGLONG deadline = GetTickCount64() + 2000;
        for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
            if (WaitForSingleObject(dataReady_, static_cast<DWORD>(deadline - now)) != WAIT_OBJECT_0)
                return {};
            DWORD sender = 0;
            std::memcpy(&sender, view_, sizeof sender);
            const char* text = view_ + sizeof(DWORD);
            std::string received(text, strnlen(text, 4096 - sizeof(DWORD)));
            SetEvent(bufferReady_);
            if (sender == GetCurrentProcessId())
                return received;
        }
        return {};
    }

private:
    HANDLE listener_ = nullptr;
    HANDLE bufferReady_ = nullptr;
    HANDLE dataReady_ = nullptr;
    HANDLE mapping_ = nullptr;
    char* view_ = nullptr;
};
