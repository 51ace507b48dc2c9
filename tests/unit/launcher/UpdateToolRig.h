#pragma once

#include "tests/support/ControlRecorder.h"
#include "tests/support/TestFiles.h"
#include "src/UpdateTool.h"

#include <gtest/gtest.h>

#include <string>

// An UpdateTool on a temp install root whose dialog controls are recorders.
struct UpdateToolRig {
    TempFolder root;
    TempFolder launcher;
    // The extraction moves the current directory; it goes back before the folders go.
    CurrentDirectory restored{currentDirectory()};
    ControlRecorder status, button, bar;
    UpdateTool tool{root.narrowPath(), launcher.narrowPath() + "\\"};

    UpdateToolRig()
    {
        tool.statusText = status.handle();
        tool.actionButton = button.handle();
        tool.progressBar = bar.handle();
        tool.targetDir = root.narrowPath() + "\\app\\9";
        tool.stagingDir = root.narrowPath() + "\\app\\temp9";
        tool.packageFile = root.narrowPath() + "\\package.nw";
        tool.versionRecord.load(tool.recordPath);
        tool.versionRecord.setVer("9");
        tool.busy = 1;
    }

    // The network road to a gateway where nothing listens: every query fails at once,
    // the same way on every machine.
    void takeUnreachableNetworkRoad()
    {
        ASSERT_FALSE(tool.checkInstallation());
        ASSERT_EQ(tool.onlineInstall, 1);
        tool.gatewayUrl = "https://127.0.0.1:1/gateway.php";
    }

    // The deployment as the worker ends its pass with it.
    WorkerOutcome deploy()
    {
        const WorkerOutcome outcome = tool.deployPackage();
        tool.finishPass(outcome);
        return outcome;
    }
};
