#include "common/DetachedProcess.h"

#include "common/UniqueHandle.h"

#include <vector>

namespace {

// The size Windows expects of each build: a struct laid out for the other one would
// make CreateProcess refuse the start or read past it.
static_assert(sizeof(STARTUPINFOA) == (sizeof(void*) == 4 ? 68 : 104), "STARTUPINFOA layout");
static_assert(sizeof(STARTUPINFOW) == sizeof(STARTUPINFOA), "STARTUPINFOW layout");

BOOL create(const char* program, char* commandLine, STARTUPINFOA& startup, PROCESS_INFORMATION& created)
{
    return CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &created);
}

BOOL create(const wchar_t* program, wchar_t* commandLine, STARTUPINFOW& startup, PROCESS_INFORMATION& created)
{
    return CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &created);
}

template <typename Char, typename StartupInfo>
DWORD start(const std::basic_string<Char>& program, const std::basic_string<Char>& commandLine)
{
    // No form of the program's path takes it past MAX_PATH here: refused before the
    // platform fails on it in a way that names no reason.
    if (program.size() >= MAX_PATH)
        return ERROR_FILENAME_EXCED_RANGE;
    // CreateProcess may write into the command line it is given.
    std::vector<Char> writable(commandLine.begin(), commandLine.end());
    writable.push_back(Char{});
    StartupInfo startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION created{};
    if (!create(program.c_str(), commandLine.empty() ? nullptr : writable.data(), startup, created))
        return GetLastError();
    UniqueHandle thread(created.hThread);
    UniqueHandle process(created.hProcess);
    thread.reset();
    process.reset();
    return ERROR_SUCCESS;
}

} // namespace

DWORD startDetached(const std::string& program, const std::string& commandLine)
{
    return start<char, STARTUPINFOA>(program, commandLine);
}

DWORD startDetached(const std::wstring& program, const std::wstring& commandLine)
{
    return start<wchar_t, STARTUPINFOW>(program, commandLine);
}
