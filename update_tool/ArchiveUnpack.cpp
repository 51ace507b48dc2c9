#include "update_tool/ArchiveUnpack.h"

#include "common/ArchiveWalk.h"
#include "update_tool/ConsoleText.h"

#include "iowin32.h"

#include <windows.h>

#include <cstdio>

namespace UpdateTool {

UnpackResult unzipFiles(const std::wstring& archivePath, const std::wstring& targetFolder)
{
    std::printf("%s", consoleText(L"\n" + archivePath + L", " + targetFolder +
                                  L"---------UpdateTool:UpdateTool::unzipFiles:420--\n")
                          .c_str());

    // Opened by its UTF-16 path: an 8-bit path in the C locale cannot name a folder
    // with Chinese characters, and the archive would silently not be found.
    zlib_filefunc64_def fileFunctions{};
    fill_win32_filefunc64W(&fileFunctions);
    UniqueArchive archive(unzOpen2_64(archivePath.c_str(), &fileFunctions));

    if (!SetCurrentDirectoryW(targetFolder.c_str())) {
        std::printf("%s", consoleText(L"Error changing into " + targetFolder + L", aborting\n").c_str());
        return UnpackResult::TargetNotEntered;
    }

    const WalkOutcome walk = extractEntries(archive.get());
    archive.reset();
    return walk.complete() ? UnpackResult::Complete : UnpackResult::Incomplete;
}

} // namespace UpdateTool
