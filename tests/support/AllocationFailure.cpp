#include "tests/support/AllocationFailure.h"

#include "common/UniqueHandle.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

namespace {
std::atomic<DWORD> g_failingThread{0};
std::atomic<long> g_allocationsLeft{0};
} // namespace

void* operator new(std::size_t size)
{
    if (g_failingThread.load() == GetCurrentThreadId() && g_allocationsLeft.fetch_sub(1) == 1)
        throw std::bad_alloc();
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

// GCC takes the replacement's own free for a mismatch with the operator new it replaces.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept
{
    std::free(block);
}
#pragma GCC diagnostic pop

void operator delete(void* block, std::size_t) noexcept
{
    ::operator delete(block);
}

namespace {

std::atomic<int> g_messageBoxes{0};

LRESULT CALLBACK confirmMessageBoxes(int code, WPARAM wParam, LPARAM lParam)
{
    wchar_t className[16] = L"";
    if (code == HCBT_CREATEWND && GetClassNameW(reinterpret_cast<HWND>(wParam), className, 16) &&
        std::wstring(className) == L"#32770") {
        ++g_messageBoxes;
        PostMessageW(reinterpret_cast<HWND>(wParam), WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

FailingRun runFailingAt(LPTHREAD_START_ROUTINE entry, void* parameter, long failAt)
{
    g_messageBoxes = 0;
    DWORD id = 0;
    const UniqueHandle thread(CreateThread(nullptr, 0, entry, parameter, CREATE_SUSPENDED, &id));
    const HHOOK hook = SetWindowsHookExW(WH_CBT, confirmMessageBoxes, nullptr, id);
    g_allocationsLeft = failAt;
    g_failingThread = id;
    ResumeThread(thread.get());
    const HANDLE handles[] = {thread.get()};
    while (MsgWaitForMultipleObjects(1, handles, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    g_failingThread = 0;
    UnhookWindowsHookEx(hook);
    DWORD exitCode = 1;
    GetExitCodeThread(thread.get(), &exitCode);
    return {g_allocationsLeft.load() <= 0, exitCode, g_messageBoxes.load()};
}
