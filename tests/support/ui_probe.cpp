// Looks at and drives the launcher's windows the way a user would, for the end-to-end
// tests. Windows are found by caption; controls by their dialog id. Results go to
// standard output as UTF-8, one answer per call.
//
//   ui_probe wait CAPTION [TIMEOUT_MS]       wait until a visible window has CAPTION
//   ui_probe gone CAPTION [TIMEOUT_MS]       wait until no window has CAPTION
//   ui_probe text CAPTION [ID]               the window's or control's text
//   ui_probe progress CAPTION ID             "<position> <low> <high>" of a progress bar
//   ui_probe visible CAPTION [ID]            "1" or "0"
//   ui_probe click CAPTION ID                press a button (BM_CLICK)
//   ui_probe close CAPTION                   the close box (SC_CLOSE), as a user clicks it
//   ui_probe minimize CAPTION                the minimize box (SC_MINIMIZE)
//   ui_probe iconic CAPTION                  "1" while the window is minimized, else "0"
//   ui_probe keys CAPTION alt+/|alt+? [MS]   the Alt keystroke, posted to the window once
//                                            its thread answers; Alt is held until another
//                                            window of that thread shows (exit 0) or for
//                                            MS (30 s; exit 1, nothing showed)
//   ui_probe launch EXE [ARGS...]            start EXE, wait for its end; print
//                                            "exit=<code> pid=<id> windows=<n>" and one
//                                            "window=<caption>" line per window it showed;
//                                            a program still running after 60 s is ended
//                                            and reported as "exit=timeout"
//
// Exit codes: 0 done, 1 timeout, 2 usage, 3 no such window or control, 4 call failed.
// A wait that times out says so on standard error: wine gives exit code 1 and no
// output to a process it could not start, and a caller must not take that for an answer.
#include "tests/support/TextConversion.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDefaultTimeout = 20000;
constexpr UINT kSendTimeout = 10000;
constexpr ULONGLONG kLaunchTimeout = 60000;
constexpr DWORD kKeyHoldTimeout = 30000;

void print(const std::wstring& text)
{
    std::string utf8 = narrow(text, CP_UTF8);
    utf8 += "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()),
              &written, nullptr);
}

DWORD timeoutArg(int argc, wchar_t** argv, int index)
{
    return argc > index ? static_cast<DWORD>(std::wcstoul(argv[index], nullptr, 10)) : kDefaultTimeout;
}

HWND findWindow(const std::wstring& caption)
{
    return FindWindowW(nullptr, caption.c_str());
}

// The window, or a control of it when an id is given.
HWND target(const std::wstring& caption, int argc, wchar_t** argv, int idIndex)
{
    HWND window = findWindow(caption);
    if (!window || argc <= idIndex)
        return window;
    return GetDlgItem(window, static_cast<int>(std::wcstol(argv[idIndex], nullptr, 10)));
}

bool sendFor(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result)
{
    return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeout, result) != 0;
}

int waitFor(const std::wstring& caption, DWORD timeout, bool present)
{
    const ULONGLONG end = GetTickCount64() + timeout;
    for (;;) {
        HWND window = findWindow(caption);
        if (present ? (window && IsWindowVisible(window)) : !window)
            return 0;
        if (GetTickCount64() >= end) {
            const char line[] = "timeout\n";
            DWORD written = 0;
            WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, sizeof(line) - 1, &written, nullptr);
            return 1;
        }
        Sleep(20);
    }
}

int text(HWND window)
{
    DWORD_PTR length = 0;
    if (!sendFor(window, WM_GETTEXTLENGTH, 0, 0, &length))
        return 4;
    std::wstring buffer(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!sendFor(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), &copied))
        return 4;
    buffer.resize(copied);
    print(buffer);
    return 0;
}

int progress(HWND bar)
{
    DWORD_PTR position = 0, low = 0, high = 0;
    // With no PBRANGE to fill, PBM_GETRANGE answers one limit: low for TRUE.
    if (!sendFor(bar, PBM_GETPOS, 0, 0, &position) || !sendFor(bar, PBM_GETRANGE, TRUE, 0, &low) ||
        !sendFor(bar, PBM_GETRANGE, FALSE, 0, &high))
        return 4;
    print(std::to_wstring(static_cast<int>(position)) + L" " + std::to_wstring(static_cast<int>(low)) +
          L" " + std::to_wstring(static_cast<int>(high)));
    return 0;
}

int click(HWND button)
{
    // Sent, not posted, so the press has been handled when we return. A press that
    // starts the client ends the launcher before it answers; that is no failure.
    DWORD_PTR ignored = 0;
    sendFor(button, BM_CLICK, 0, 0, &ignored);
    return 0;
}

BOOL CALLBACK findOtherVisible(HWND candidate, LPARAM context)
{
    auto* found = reinterpret_cast<HWND*>(context);
    if (candidate != found[0] && IsWindowVisible(candidate)) {
        found[1] = candidate;
        return FALSE;
    }
    return TRUE;
}

bool otherVisibleWindow(DWORD thread, HWND except)
{
    HWND found[2] = {except, nullptr};
    EnumThreadWindows(thread, findOtherVisible, reinterpret_cast<LPARAM>(found));
    return found[1] != nullptr;
}

// The launcher translates accelerators for the window each message is for, and the
// accelerator's Alt test reads the key state of its thread. Sharing its input state
// lets us hold Alt (and Shift for "?") down while the keystroke arrives.
int altKey(HWND window, const std::wstring& keys, DWORD timeout)
{
    const bool question = keys == L"alt+?";
    if (!question && keys != L"alt+/")
        return 2;
    // A keystroke posted while the thread is still setting its window up waits in the
    // queue as well, but the hold below would then be spent before it is read.
    DWORD_PTR ignored = 0;
    if (!sendFor(window, WM_NULL, 0, 0, &ignored))
        return 4;
    const DWORD ownThread = GetCurrentThreadId();
    const DWORD windowThread = GetWindowThreadProcessId(window, nullptr);
    if (!AttachThreadInput(ownThread, windowThread, TRUE))
        return 4;

    // Every modifier is set, not only the ones we press: a Control left down would make
    // TranslateMessage produce no character, and the accelerator would never match.
    BYTE state[256]{};
    if (!GetKeyboardState(state)) {
        AttachThreadInput(ownThread, windowThread, FALSE);
        return 4;
    }
    const BYTE shift = question ? 0x80 : 0;
    state[VK_MENU] = state[VK_LMENU] = 0x80;
    state[VK_RMENU] = 0;
    state[VK_SHIFT] = state[VK_LSHIFT] = shift;
    state[VK_RSHIFT] = state[VK_CONTROL] = state[VK_LCONTROL] = state[VK_RCONTROL] = 0;
    SetKeyboardState(state);

    const UINT scan = MapVirtualKeyW(VK_OEM_2, MAPVK_VK_TO_VSC);
    // Context bit 29: Alt is held for the keystroke.
    const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16) | (1 << 29);
    const LPARAM up = down | (1u << 30) | (1u << 31);
    // The launcher's TranslateMessage makes the character from the key and the key
    // state: "/" or, with Shift, "?".
    const bool posted = PostMessageW(window, WM_SYSKEYDOWN, VK_OEM_2, down) &&
                        PostMessageW(window, WM_SYSKEYUP, VK_OEM_2, up);

    // Alt stays down until the keystroke has had its effect, a new window of the
    // launcher's thread (the About box).
    const ULONGLONG end = GetTickCount64() + timeout;
    bool shown = false;
    while (posted && !(shown = otherVisibleWindow(windowThread, window)) && GetTickCount64() < end)
        Sleep(20);

    state[VK_MENU] = state[VK_LMENU] = state[VK_SHIFT] = state[VK_LSHIFT] = 0;
    SetKeyboardState(state);
    AttachThreadInput(ownThread, windowThread, FALSE);
    return !posted ? 4 : shown ? 0 : 1;
}

struct WindowsOf {
    DWORD processId;
    std::set<HWND>* seen;
    std::vector<std::wstring>* captions;
};

BOOL CALLBACK collectVisible(HWND window, LPARAM context)
{
    auto* of = reinterpret_cast<WindowsOf*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == of->processId && IsWindowVisible(window) && of->seen->insert(window).second) {
        wchar_t caption[256] = L"";
        GetWindowTextW(window, caption, 256);
        of->captions->push_back(caption);
    }
    return TRUE;
}

// Starts the program and watches, as often as the machine allows, for any visible
// top-level window of it until it ends.
int launch(int argc, wchar_t** argv)
{
    std::wstring commandLine;
    for (int i = 2; i < argc; ++i) {
        if (i > 2)
            commandLine += L' ';
        commandLine += L'"';
        commandLine += argv[i];
        commandLine += L'"';
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(argv[2], commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &process))
        return 4;
    std::set<HWND> seen;
    std::vector<std::wstring> captions;
    WindowsOf of{process.dwProcessId, &seen, &captions};
    ResumeThread(process.hThread);
    const ULONGLONG end = GetTickCount64() + kLaunchTimeout;
    bool ended = false;
    while (!(ended = WaitForSingleObject(process.hProcess, 0) != WAIT_TIMEOUT) &&
           GetTickCount64() < end)
        EnumWindows(collectVisible, reinterpret_cast<LPARAM>(&of));
    DWORD exitCode = 0;
    if (ended) {
        GetExitCodeProcess(process.hProcess, &exitCode);
    } else {
        TerminateProcess(process.hProcess, 255);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    print(L"exit=" + (ended ? std::to_wstring(exitCode) : std::wstring(L"timeout")) + L" pid=" +
          std::to_wstring(process.dwProcessId) + L" windows=" + std::to_wstring(captions.size()));
    for (const std::wstring& caption : captions)
        print(L"window=" + caption);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    const std::wstring command = argv[1];
    const std::wstring caption = argv[2];

    if (command == L"launch")
        return launch(argc, argv);
    if (command == L"wait")
        return waitFor(caption, timeoutArg(argc, argv, 3), true);
    if (command == L"gone")
        return waitFor(caption, timeoutArg(argc, argv, 3), false);

    HWND window = target(caption, argc, argv, 3);
    if (command == L"keys") {
        window = findWindow(caption);
        if (!window)
            return 3;
        return argc > 3 ? altKey(window, argv[3], argc > 4 ? timeoutArg(argc, argv, 4) : kKeyHoldTimeout) : 2;
    }
    if (!window)
        return 3;
    if (command == L"text")
        return text(window);
    if (command == L"progress")
        return progress(window);
    if (command == L"visible") {
        print(IsWindowVisible(window) ? L"1" : L"0");
        return 0;
    }
    if (command == L"click")
        return argc > 3 ? click(window) : 2;
    if (command == L"close" || command == L"minimize") {
        DWORD_PTR ignored = 0;
        sendFor(window, WM_SYSCOMMAND, command == L"close" ? SC_CLOSE : SC_MINIMIZE, 0, &ignored);
        return 0;
    }
    if (command == L"iconic") {
        print(IsIconic(window) ? L"1" : L"0");
        return 0;
    }
    return 2;
}
