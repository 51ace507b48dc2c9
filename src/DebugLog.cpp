#include "src/DebugLog.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

DebugLog& DebugLog::instance()
{
    // Leaked on purpose: worker threads may still log while the process exits.
    static DebugLog* log = new DebugLog();
    return *log;
}

void DebugLog::formatLine(char (&line)[kLineSize], const std::tm& localTime, const char* format,
                          va_list args)
{
    char prefix[30];
    const size_t prefixLength = std::strftime(prefix, sizeof(prefix), "[%Y-%m-%d %H:%M:%S] ", &localTime);
    std::memcpy(line, prefix, prefixLength);
    // vsnprintf never writes past the size it is given and always terminates,
    // so an overlong message is cut at the buffer's end.
    std::vsnprintf(line + prefixLength, kLineSize - prefixLength, format, args);
}

void DebugLog::emit(const char* format, va_list args)
{
    const std::time_t now = std::time(nullptr);
    std::tm localTime{};
    localtime_s(&localTime, &now);
    // Each call formats into storage of its own, as the two threads may log at once:
    // on the stack, because a log call must never throw. Were the line after a
    // successful client start to throw, the launcher would not end, and its button
    // would start the client a second time.
    char line[kLineSize];
    formatLine(line, localTime, format, args);
    OutputDebugStringA(line);
}

void DebugLog::write(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    emit(format, args);
    va_end(args);
}

void DebugLog::writeText(const char* text)
{
    write("%s", text);
}
