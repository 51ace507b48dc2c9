// The update tool has no window: its whole interface is the command line and
// standard output, which the client redirects when it wants to read it.
#include "update_tool/CommandLine.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <new>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    try {
        // The runtime library splits the command line as wmain would receive it.
        return runUpdateTool(__argc, __wargv);
    } catch (const std::bad_alloc&) {
        std::printf("Error allocating memory\n");
        return -1;
    }
}
