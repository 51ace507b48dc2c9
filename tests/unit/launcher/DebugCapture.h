#pragma once

#include "tests/support/DebugOutputBuffer.h"

#include <windows.h>

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
        buffer_.release();
    }
    ~DebugCapture()
    {
        if (listener_ != nullptr) {
            ReleaseMutex(listener_);
            CloseHandle(listener_);
        }
    }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    bool ready() const { return listener_ != nullptr && buffer_.ready(); }

    // The string this process sent since the capture was armed; empty when none
    // arrived within 2 s.
    std::string next()
    {
        const ULONGLONG deadline = GetTickCount64() + 2000;
        for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
            DWORD sender = 0;
            std::string received;
            if (!buffer_.take(static_cast<DWORD>(deadline - now), sender, received))
                return {};
            buffer_.release();
            if (sender == GetCurrentProcessId())
                return received;
        }
        return {};
    }

private:
    HANDLE listener_ = nullptr;
    DebugOutputBuffer buffer_;
};
