#include "update_tool/ProcessControl.h"

#include "common/DetachedProcess.h"
#include "common/UniqueHandle.h"
#include "update_tool/ConsoleText.h"

#include <cstdio>

void endProcess(DWORD processId)
{
    const HANDLE opened = OpenProcess(PROCESS_TERMINATE, FALSE, processId);
    const DWORD openError = GetLastError();
    const UniqueHandle process(opened);
    if (!process) {
        std::printf("\nOpen Process fAiled:%d\n", static_cast<int>(openError));
        return;
    }
    if (!TerminateProcess(process.get(), 0)) {
        const DWORD error = GetLastError();
        std::printf("%d", static_cast<int>(error));
    }
}

void startRuntime(const std::wstring& programPath)
{
    // Gives the ended client a moment to let go of its files and window.
    Sleep(1000);
    if (startDetached(programPath, {}) == ERROR_FILENAME_EXCED_RANGE)
        std::printf("%s", consoleText(L"cannot start " + programPath + L": the path is longer than 259 characters\n").c_str());
}
