#include "update_tool/Modes.h"

#include "update_tool/ComposedPath.h"
#include "update_tool/ConsoleText.h"
#include "update_tool/MoveListedFiles.h"
#include "update_tool/ProcessControl.h"
#include "update_tool/RecordVersion.h"
#include "update_tool/UpdateStage.h"

#include <cstdio>

int runMoveMode(const std::wstring& version, const std::wstring& sourceFolder,
                const std::wstring& targetFolder, const std::vector<std::wstring>& names)
{
    UpdateStage stage;
    const bool besideTarget = stageBeside(composeLongPath(targetFolder, L""), stage);
    if (besideTarget)
        recoverUnfinishedUpdate(stage);
    else
        std::printf("%s", consoleText(L"couldn't stage the update beside " + targetFolder + L"\n").c_str());
    const bool moved = besideTarget && moveListedFiles(stage, version, sourceFolder, targetFolder, names);
    startRuntime(runtimePathIn(targetFolder));
    // The record names the installed version; after a failed move it would claim
    // files that are not there.
    if (moved) {
        recordVersion(versionFilePathIn(targetFolder), version);
        removeStage(stage);
    }
    return 0;
}
