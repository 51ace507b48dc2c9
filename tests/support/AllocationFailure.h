#pragma once

#include <windows.h>

// Allocation failure on demand. A program linked with this has its operator new
// replaced: every allocation of one chosen thread counts down, and the one that
// reaches zero throws std::bad_alloc. Other threads, the dialog's recorders among
// them, allocate as usual.

struct FailingRun {
    bool reached;     // the thread made the allocation that failed
    DWORD exitCode;   // the thread's
    int messageBoxes; // the message boxes it showed, each answered with OK
};

// Runs `entry(parameter)` on a new thread whose `failAt`-th allocation fails, while
// the calling thread takes the messages the worker sends, as the dialog's loop does;
// every message box of the thread is answered with OK, as a user would. A failure
// that escaped the thread would have ended the process.
FailingRun runFailingAt(LPTHREAD_START_ROUTINE entry, void* parameter, long failAt);
