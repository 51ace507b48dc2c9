#include "update_tool/ArchiveUnpack.h"

#include "common/ArchiveWalk.h"
#include "common/FileSystem.h"
#include "update_tool/ConsoleText.h"
#include "update_tool/UpdateSignature.h"
#include "update_tool/UpdateStage.h"

#include "ioapi.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstddef>
#include <cstdio>

namespace UpdateProgram {

namespace {

constexpr std::size_t kArchiveReadBuffer = 64 * 1024;

// minizip is handed the held archive's handle in place of a path. It reads through a
// duplicate, which its close closes; the held one stays open until the tool is done.
// The stream is buffered because the reader takes header fields a few bytes at a time,
// and unbuffered that is one file-system call for each of them.
voidpf ZCALLBACK openHeldForReading(voidpf, const void* held, int mode)
{
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ)
        return nullptr;
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), *static_cast<const HANDLE*>(held), GetCurrentProcess(), &copy, 0,
                         FALSE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_RDONLY | _O_BINARY);
    if (descriptor == -1) {
        CloseHandle(copy);
        return nullptr;
    }
    std::FILE* file = _fdopen(descriptor, "rb");
    if (!file) {
        _close(descriptor);
        return nullptr;
    }
    std::setvbuf(file, nullptr, _IOFBF, kArchiveReadBuffer);
    return file;
}

// The folder in the form SetCurrentDirectoryW takes: not the \\?\ one.
std::wstring enterable(const std::wstring& folder)
{
    if (folder.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\\\" + folder.substr(8);
    if (folder.compare(0, 4, L"\\\\?\\") == 0)
        return folder.substr(4);
    return folder;
}

void printLine(const std::wstring& text)
{
    std::printf("%s", consoleText(text).c_str());
}

// The archive unpacked into the staging folder and, only when every entry is there,
// swapped into the target. False when the target is as it was.
bool stageAndSwap(const UniqueFileHandle& archive, const UpdateStage& stage, const std::wstring& version,
                  const std::wstring& targetFolder, const std::wstring& entered)
{
    if (!openStage(stage, version, targetFolder))
        return false;
    const bool staged = extractArchiveInto(archive, stage.incoming());
    // Back in the target: a folder that is some process's current directory cannot
    // be removed, nor can the folders above it be renamed.
    SetCurrentDirectoryW(entered.c_str());
    if (!staged) {
        removeStage(stage);
        return false;
    }
    const SwapOutcome swap = swapStagedFiles(stage, version);
    if (swap == SwapOutcome::Undone)
        removeStage(stage);
    return swap == SwapOutcome::Swapped;
}

} // namespace

bool extractArchiveInto(const UniqueFileHandle& archive, const std::wstring& folder)
{
    zlib_filefunc64_def fileFunctions = archiveFileFunctions(openHeldForReading);
    const HANDLE held = archive.get();
    UniqueArchive opened(archive ? unzOpen2_64(&held, &fileFunctions) : nullptr);
    if (!SetCurrentDirectoryW(enterable(folder).c_str())) {
        std::printf("couldn't enter the staging folder\n");
        return false;
    }
    return extractEntries(opened.get()).complete();
}

UnpackResult unzipFiles(const std::wstring& archivePath, const std::wstring& targetFolder,
                        const std::wstring& version, bool signedOnly)
{
    printLine(L"\n" + archivePath + L", " + targetFolder + L"---------UpdateTool:UpdateTool::unzipFiles:420--\n");
    const UniqueFileHandle archive = openHeldArchive(archivePath);
    const std::wstring openedPath = longPathForm(archivePath); // before the current directory changes
    if (!SetCurrentDirectoryW(targetFolder.c_str())) {
        printLine(L"Error changing into " + targetFolder + L", aborting\n");
        return UnpackResult::TargetNotEntered;
    }
    // The extraction works in the staging folder; the target is the current
    // directory again at the end, which the runtime inherits.
    const std::wstring entered = fullPath(L".");
    UpdateStage stage;
    if (!stageBeside(entered, stage)) {
        printLine(L"couldn't stage the update beside " + targetFolder + L"\n");
        return UnpackResult::Incomplete;
    }
    recoverUnfinishedUpdate(stage);
    if (signedOnly && !archiveSignatureHolds(archive.get(), archivePath, openedPath, version))
        return UnpackResult::Incomplete;
    const bool swapped = stageAndSwap(archive, stage, version, targetFolder, entered);
    return swapped ? UnpackResult::Complete : UnpackResult::Incomplete;
}

void finishUnpack()
{
    UpdateStage stage;
    if (stageBeside(fullPath(L"."), stage))
        removeStage(stage);
}

} // namespace UpdateProgram
