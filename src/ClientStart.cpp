#include "UpdateTool.h"

#include "DebugLog.h"
#include "InstallLayout.h"
#include "Texts.h"
#include "common/UniqueHandle.h"

#include <cstdlib>
#include <vector>

namespace {

constexpr const char* kLogCommandLine = "\n%s\n";

std::string quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

} // namespace

void UpdateTool::launchClient()
{
    const std::string runtime = InstallLayout::runtime(moduleDir);
    const std::string package = InstallLayout::packageBesideLauncher(moduleDir);
    // A package beside the launcher wins over the installed folder.
    const std::string& argument =
        GetFileAttributesA(package.c_str()) != INVALID_FILE_ATTRIBUTES ? package : targetDir;

    if (startProcess(runtime, quoted(runtime) + " " + quoted(argument)) == 0) {
        DebugLog::instance().write(Texts::kLogClientStarted);
        // 1 is the code of a successful start. This may run on the worker thread: the
        // process exit ends the user-interface thread with it.
        std::exit(1);
    }
    DebugLog::instance().write(Texts::kLogStartFailed);
    // Before the dialog exists statusText is null and nothing is shown.
    setStatus(Texts::kStatusStartFailed);
}

int startProcess(const std::string& exePath, const std::string& commandLine)
{
    // CreateProcessA may write into the command line it is given.
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');
    DebugLog::instance().write(kLogCommandLine, writable.data());

    // The size Windows expects of each build: a struct laid out for the other one
    // would make CreateProcessA refuse the start or read past it.
    static_assert(sizeof(STARTUPINFOA) == (sizeof(void*) == 4 ? 68 : 104), "STARTUPINFOA layout");
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION created{};
    if (!CreateProcessA(exePath.c_str(), writable.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &created))
        return -1;
    // The client runs on its own: we never wait for it. Thread first, then process.
    UniqueHandle thread(created.hThread);
    UniqueHandle process(created.hProcess);
    thread.reset();
    process.reset();
    return 0;
}
