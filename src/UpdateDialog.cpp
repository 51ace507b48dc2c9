#include "src/UpdateDialog.h"

#include "src/Texts.h"
#include "src/UpdateTool.h"
#include "common/ProcAddress.h"
#include "common/UniqueHandle.h"
#include "resources/resource.h"

#include <commctrl.h>

namespace {

// The About box is loaded from the module that created the update dialog.
HINSTANCE g_instance = nullptr;

} // namespace

void startWorker(LPTHREAD_START_ROUTINE entry)
{
    UpdateTool& tool = *g_updateTool;
    if (tool.busy)
        return;
    // Both flags change before the thread exists, so the button never sees a worker
    // that runs with busy clear or with the previous failure still set.
    tool.busy = 1;
    tool.failed = 0;
    // Nobody waits for the worker: the handle goes at once. A thread that cannot be
    // created leaves busy set, and the dialog then only offers cancel.
    UniqueHandle thread(CreateThread(nullptr, 0, entry, &tool, 0, nullptr));
}

bool createUpdateDialog(HINSTANCE instance, int showCommand)
{
    g_instance = instance;

    // The template names the progress bar's class; loading comctl32 registers it. It
    // is loaded here rather than imported: a launcher that only starts the installed
    // client never shows a window, and comctl32's attach alone brings up the display
    // driver. The manifest's activation context still selects version 6.
    using InitControls = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    if (const HMODULE controlsLibrary = LoadLibraryW(L"comctl32.dll")) {
        const auto initControls = procAddress<InitControls>(controlsLibrary, "InitCommonControlsEx");
        const INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS};
        if (initControls)
            initControls(&controls);
    }

    HWND dialog = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_UPDATE), nullptr,
                                     updateDialogProc, 0);
    if (!dialog)
        return false;
    const HICON bigIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_SMALL));
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon));

    SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SetDlgItemTextW(dialog, IDC_STATUS, Texts::kStatusChecking);

    UpdateTool& tool = *g_updateTool;
    tool.progressBar = GetDlgItem(dialog, IDC_PROGRESS);
    tool.statusText = GetDlgItem(dialog, IDC_STATUS);
    tool.actionButton = GetDlgItem(dialog, IDC_ACTION);

    ShowWindow(dialog, showCommand);
    UpdateWindow(dialog);
    return true;
}

// A dialog procedure answers TRUE for what it handled and FALSE to leave a message to
// the dialog manager's default processing.
INT_PTR CALLBACK updateDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_ACTION:
            try {
                onActionButton();
            } catch (...) {
                // Nothing may unwind through the dialog manager: whatever failed, the
                // press did nothing, and the next may work.
            }
            return TRUE;
        case IDM_ABOUT:
            DialogBoxParamW(g_instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), window, aboutDialogProc, 0);
            return TRUE;
        case IDC_CANCEL:
            DestroyWindow(window);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CLOSE:
        // The dialog manager would turn the close box into command IDCANCEL, which is
        // not our cancel button: closing must end the program like cancel does.
        DestroyWindow(window);
        return TRUE;
    case WM_DESTROY:
        // A running worker dies with the process; nothing waits for it.
        PostQuitMessage(0);
        return TRUE;
    case WM_PAINT: {
        // The controls draw everything there is to see.
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK aboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(window, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void onActionButton()
{
    UpdateTool& tool = *g_updateTool;
    if (tool.failed) {
        // A retry always asks the network again. Texts stay as they are: the caption
        // keeps "重试" and the status its error until the new pass reports.
        if (!tool.busy)
            startWorker(updateWorker);
        return;
    }
    if (tool.launchOnConfirm)
        tool.launchClient();
}
