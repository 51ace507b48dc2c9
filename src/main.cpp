// The launcher's entry: start the installed client at once, or show the update dialog
// and install it on a worker thread.
#include "src/InstallGuard.h"
#include "src/UpdateDialog.h"
#include "src/UpdateTool.h"
#include "resources/resource.h"

#include <windows.h>

#include <optional>

namespace {

int runLauncher(HINSTANCE instance, int showCommand)
{
    // Lives until the process ends: a worker may still use it while the process exits.
    g_updateTool = new UpdateTool();
    UpdateTool& tool = *g_updateTool;

    // Taken before the record is read, so a launcher that finds no install knows that
    // no other one is making it; the installed road never waits for it. Only one
    // launcher at a time installs into a root: a second one shows the first one's
    // dialog and ends.
    std::optional<InstallGuard> guard;
    bool guardTaken = true;
    if (tool.hasInstallRoot()) {
        guard.emplace(tool.installRoot);
        guardTaken = guard->take();
    }

    if (tool.checkInstallation()) {
        // Returns only when the runtime could not be started.
        tool.launchClient();
        return 0;
    }
    if (!guardTaken) {
        guard->showHolder();
        return 0;
    }

    if (!createUpdateDialog(instance, showCommand))
        return 0;
    if (guard)
        guard->markDialog(GetParent(tool.statusText));
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
