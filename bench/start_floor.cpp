// Stand-ins for the launcher on its installed road, for bench/start: each starts the
// runtime erp.exe beside itself with the command line the launcher would build (its
// one argument, the folder, comes as this program's first argument), closes the
// handles and ends with exit code 1, and does nothing else. Built twice:
//   start_floor       imports kernel32 and the C runtime only: what any program that
//                     starts the runtime in a process of its own costs at the least;
//   start_floor_dlls  also imports what the launcher imports for its dialog, its
//                     install root and its network road (user32, shell32, ole32,
//                     wininet; comctl32 it loads only when it shows the dialog), never
//                     calling them: what loading and initialising those libraries costs.
#include <windows.h>

#ifdef FLOOR_WITH_LAUNCHER_IMPORTS
#include <objbase.h>
#include <shlobj.h>
#include <wininet.h>
#endif

#include <cstdlib>
#include <string>
#include <vector>

#include "common/UniqueHandle.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
#ifdef FLOOR_WITH_LAUNCHER_IMPORTS
    // Never true; the calls are there for their imports only.
    if (__argc > 1000) {
        LPITEMIDLIST list = nullptr;
        SHGetSpecialFolderLocation(nullptr, CSIDL_LOCAL_APPDATA, &list);
        InternetOpenA("", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        GUID guid;
        CoCreateGuid(&guid);
        CreateDialogParamW(nullptr, nullptr, nullptr, nullptr, 0);
    }
#endif
    if (__argc < 2)
        return 2;
    std::wstring runtime(MAX_PATH, L'\0');
    runtime.resize(GetModuleFileNameW(nullptr, runtime.data(), MAX_PATH));
    runtime.resize(runtime.find_last_of(L'\\') + 1);
    runtime += L"erp.exe";

    const std::wstring commandLine = L"\"" + runtime + L"\" \"" + __wargv[1] + L"\"";
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION created{};
    if (!CreateProcessW(runtime.c_str(), writable.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &created))
        return 0;
    UniqueHandle thread(created.hThread);
    UniqueHandle process(created.hProcess);
    thread.reset();
    process.reset();
    std::exit(1);
}
