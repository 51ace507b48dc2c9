#pragma once

#include <windows.h>

#include <cstring>
#include <string>

// The receiving end of OutputDebugStringA as a debug-output viewer holds it: the
// DBWIN_BUFFER shared memory and its two events. Each string arrives whole, byte for
// byte, with its sender's process id (wine's +debugstr channel escapes and cuts them).
// A writer waits for the buffer until the string before it was taken and released,
// so only one reader may listen in a prefix at a time: two would take each other's
// strings.
class DebugOutputBuffer {
public:
    DebugOutputBuffer()
        : bufferReady_(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY")),
          dataReady_(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY")),
          mapping_(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, L"DBWIN_BUFFER"))
    {
        if (mapping_ != nullptr)
            view_ = static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
    }
    ~DebugOutputBuffer()
    {
        if (view_ != nullptr)
            UnmapViewOfFile(view_);
        for (HANDLE handle : {mapping_, dataReady_, bufferReady_})
            if (handle != nullptr)
                CloseHandle(handle);
    }
    DebugOutputBuffer(const DebugOutputBuffer&) = delete;
    DebugOutputBuffer& operator=(const DebugOutputBuffer&) = delete;

    bool ready() const { return bufferReady_ != nullptr && dataReady_ != nullptr && view_ != nullptr; }

    // Lets the next writer put its string into the buffer.
    void release() { SetEvent(bufferReady_); }

    // Waits up to `milliseconds` for a string; false when none arrived. Its writer,
    // and every one after it, waits until release().
    bool take(DWORD milliseconds, DWORD& sender, std::string& text) const
    {
        if (WaitForSingleObject(dataReady_, milliseconds) != WAIT_OBJECT_0)
            return false;
        std::memcpy(&sender, view_, sizeof sender);
        const char* data = view_ + sizeof(DWORD);
        text.assign(data, strnlen(data, kSize - sizeof(DWORD)));
        return true;
    }

private:
    static constexpr DWORD kSize = 4096;
    HANDLE bufferReady_ = nullptr;
    HANDLE dataReady_ = nullptr;
    HANDLE mapping_ = nullptr;
    const char* view_ = nullptr;
};
