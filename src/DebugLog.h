#pragma once

#include <cstdarg>
#include <ctime>

// The launcher's diagnostic trace. Lines go to the debugger output only
// (OutputDebugStringA); there is no log file. Each line is the local time as
// "[YYYY-MM-DD HH:MM:SS] " followed by the message, built in a 1024-byte buffer.
// Text passes through unchanged: our own Chinese texts are GBK byte strings and
// paths are ANSI paths.
class DebugLog {
public:
    static constexpr size_t kLineSize = 1024;   // whole line, terminator included
    static constexpr size_t kPrefixLength = 22; // "[%Y-%m-%d %H:%M:%S] "

    // The one log object of the process; created on first use, never destroyed.
    static DebugLog& instance();

    // printf-style. A message longer than the line leaves (1001 bytes) is cut at the
    // end of the buffer, never written past it. No line feed is added. Never throws,
    // once instance() has returned.
    void write(const char* format, ...);

    // Emits `text` as the message verbatim: a "%" in a path or a record is not a
    // conversion.
    void writeText(const char* text);

    // The line `write` would emit at the given local time; the seam for tests.
    static void formatLine(char (&line)[kLineSize], const std::tm& localTime, const char* format,
                           va_list args);

private:
    DebugLog() = default;
    static void emit(const char* format, va_list args);
};
