// Host stand-in for the launcher's debug trace, which writes to the Windows debugger
// output. It formats each line the same size-bounded way and drops it, so a hostile
// path or record still goes through a formatter under the sanitizers.
#include "src/DebugLog.h"

#include <cstdio>
#include <cstring>

DebugLog& DebugLog::instance()
{
    static DebugLog log;
    return log;
}

void DebugLog::formatLine(char (&line)[kLineSize], const std::tm&, const char* format, va_list args)
{
    std::memset(line, ' ', kPrefixLength);
    std::vsnprintf(line + kPrefixLength, kLineSize - kPrefixLength, format, args);
}

void DebugLog::emit(const char* format, va_list args)
{
    char line[kLineSize];
    formatLine(line, std::tm{}, format, args);
    volatile std::size_t sink = std::strlen(line);
    (void)sink;
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
