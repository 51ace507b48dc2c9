// The update tool has no window: its whole interface is the command line and
// standard output, which the client redirects when it wants to read it.
#include "update_tool/CommandLine.h"
#include "update_tool/EntryGuard.h"

#include <windows.h>

#include <cstdlib>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // The runtime library splits the command line as wmain would receive it.
    return guardedExitCode([] { return runUpdateTool(__argc, __wargv); });
}
