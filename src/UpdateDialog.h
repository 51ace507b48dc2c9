#pragma once

#include <windows.h>

// The update dialog (template 133) and its About box (template 103). Everything here
// runs on the user-interface thread and works on g_updateTool.

// Creates the modeless update dialog, stores its progress bar, status line and button
// in g_updateTool, and shows it. False when the dialog could not be created.
bool createUpdateDialog(HINSTANCE instance, int showCommand);

INT_PTR CALLBACK updateDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK aboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The action button: retries after a retryable failure (never while a worker runs),
// starts the client once the install is done or not needed, and otherwise does nothing.
void onActionButton();

// Starts `entry` on a new worker thread with g_updateTool, unless one is running.
// Marks the worker running and clears the last failure before the thread exists;
// the thread is never waited for.
void startWorker(LPTHREAD_START_ROUTINE entry);
