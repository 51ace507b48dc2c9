#include "update_tool/Modes.h"

#include "update_tool/ComposedPath.h"
#include "update_tool/MoveListedFiles.h"
#include "update_tool/ProcessControl.h"
#include "update_tool/RecordVersion.h"

int runMoveMode(const std::wstring& version, const std::wstring& sourceFolder,
                const std::wstring& targetFolder, const std::vector<std::wstring>& names)
{
    const int moved = moveListedFiles(sourceFolder, targetFolder, names);
    startRuntime(runtimePathIn(targetFolder));
    // The record names the installed version; after a failed move it would claim
    // files that are not there.
    if (moved == 0)
        recordVersion(versionFilePathIn(targetFolder), version);
    return 0;
}
