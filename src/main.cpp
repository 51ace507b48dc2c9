// The launcher's entry: start the installed client at once, or show the update dialog
// and install it on a worker thread.
#include "src/UpdateDialog.h"
#include "src/UpdateTool.h"
#include "resources/resource.h"

#include <windows.h>

namespace {

int runLauncher(HINSTANCE instance, int showCommand)
{
    // Lives until the process ends: a worker may still use it while the process exits.
    g_updateTool = new UpdateTool();
    UpdateTool& tool = *g_updateTool;

    if (tool.checkInstallation()) {
        // Returns only when the runtime could not be started.
        tool.launchClient();
        return 0;
    }

    if (!createUpdateDialog(instance, showCommand))
        return 0;
    // Without an install root no worker may run: every path it would use lies at the
    // root of the current drive.
    if (tool.hasInstallRoot())
        startWorker(tool.onlineInstall ? updateWorker : installLocalPackage);
    else
        tool.finishPass(WorkerOutcome::NoInstallRoot);

    const HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDC_ZORVIKUPDATE));
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // No IsDialogMessage: the dialog has no keyboard navigation. Accelerators go to
        // the window the message is for, so Alt+/ reaches the About command only when
        // the dialog itself has the keyboard.
        if (!TranslateAcceleratorW(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    try {
        return runLauncher(instance, showCommand);
    } catch (...) {
        // Out of memory before the dialog's loop runs, or anything else: end as an
        // early return does, never through std::terminate.
        return 0;
    }
}
