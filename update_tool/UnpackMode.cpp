#include "update_tool/Modes.h"

#include "update_tool/ArchiveUnpack.h"
#include "update_tool/ComposedPath.h"
#include "update_tool/ProcessControl.h"
#include "update_tool/RecordVersion.h"

int runUnpackMode(DWORD processId, const std::wstring& version, const std::wstring& archivePath,
                  const std::wstring& targetFolder)
{
    if (processId != 0)
        endProcess(processId);
    const UpdateProgram::UnpackResult unpacked = UpdateProgram::unzipFiles(archivePath, targetFolder, version);
    if (unpacked == UpdateProgram::UnpackResult::TargetNotEntered)
        return -1;
    // Started again either way, so the user keeps a working client.
    startRuntime(runtimePathIn(targetFolder));
    if (unpacked == UpdateProgram::UnpackResult::Complete) {
        recordVersion(versionFilePathIn(targetFolder), version);
        UpdateProgram::finishUnpack();
    }
    return 0;
}
