#include "src/UpdateTool.h"

#include "src/DebugLog.h"
#include "src/InstallLayout.h"
#include "src/Texts.h"
#include "common/DetachedProcess.h"

#include <cstdlib>

namespace {

constexpr const char* kLogCommandLine = "\n%s\n";

std::string quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

} // namespace

void UpdateTool::launchClient()
{
    int started = -1;
    try {
        const std::string runtime = InstallLayout::runtime(moduleDir);
        const std::string package = InstallLayout::packageBesideLauncher(moduleDir);
        // A package beside the launcher wins over the installed folder.
        const std::string& argument =
            GetFileAttributesA(package.c_str()) != INVALID_FILE_ATTRIBUTES ? package : targetDir;
        started = startProcess(runtime, quoted(runtime) + " " + quoted(argument));
    } catch (...) {
        // Out of memory while composing the start, before the runtime was asked to
        // start: a failed start, shown as one. It runs on the worker's thread too,
        // which nothing may escape.
    }

    if (started == 0) {
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
    DebugLog::instance().write(kLogCommandLine, commandLine.c_str());
    // The client runs on its own: we never wait for it.
    const DWORD error = startDetached(exePath, commandLine);
    if (error == ERROR_FILENAME_EXCED_RANGE)
        DebugLog::instance().write("cannot start %s: the path is longer than 259 characters\n", exePath.c_str());
    return error == ERROR_SUCCESS ? 0 : -1;
}
