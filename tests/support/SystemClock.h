#pragma once
// The system time in 100 ns units, shared by the stub runtime (which records when its
// entry ran) and the start benchmark (which compares that with when it asked for the
// start), so both ends read the same clock.
#include <windows.h>

// The precise clock exists from Windows 8 on; the build targets 7, where the coarse
// one (a tick of 1 to 16 ms) stands in.
inline unsigned long long systemTimeNow()
{
    using PreciseClock = void(WINAPI*)(LPFILETIME);
    static const auto precise = reinterpret_cast<PreciseClock>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
    FILETIME now{};
    if (precise)
        precise(&now);
    else
        GetSystemTimeAsFileTime(&now);
    return (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}
