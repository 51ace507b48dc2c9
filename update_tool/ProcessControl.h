#pragma once

#include <windows.h>

#include <string>

// Asks the platform to end the process `processId` with exit code 0 and returns at
// once, without waiting for it to be gone. Prints "\nOpen Process fAiled:%d\n" when
// the process cannot be opened and the bare error number when it cannot be ended.
void endProcess(DWORD processId);

// After a pause of one second, starts `programPath` with no arguments, no window of
// its own (its main window shown normally), no inherited handles, this process's
// environment and current directory. Never waits for it; a failed start is silent,
// but for a path of 260 characters or more, which no start takes: the tool says so with
// "cannot start <path>: the path is longer than 259 characters\n".
void startRuntime(const std::wstring& programPath);
