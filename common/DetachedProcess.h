#pragma once

// Starting a program that runs on its own: both programs start the client's runtime
// this way and never wait for it.

#include <windows.h>

#include <string>

// Starts `program` with `commandLine` (none when empty: the program then sees only its
// own path), without a console window (CREATE_NO_WINDOW) but with its main window
// shown normally, no inherited handles, this process's environment and current
// directory. The thread and process handles are closed at once, thread first.
// Returns ERROR_SUCCESS, or the error the start failed with; a program path of
// MAX_PATH (260) characters or more is refused with ERROR_FILENAME_EXCED_RANGE.
DWORD startDetached(const std::string& program, const std::string& commandLine); // ANSI code page
DWORD startDetached(const std::wstring& program, const std::wstring& commandLine);
