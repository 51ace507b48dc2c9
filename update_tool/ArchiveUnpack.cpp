#include "update_tool/ArchiveUnpack.h"

#include "common/ArchiveWalk.h"
#include "update_tool/ConsoleText.h"

#include "ioapi.h"

#include <windows.h>

#include <cstddef>
#include <cstdio>

namespace UpdateProgram {

namespace {

constexpr std::size_t kArchiveReadBuffer = 64 * 1024;

// Opens the archive by its UTF-16 path: an 8-bit path in the C locale cannot name a
// folder with Chinese characters, and the archive would silently not be found. The
// stream is buffered because the reader takes header fields a few bytes at a time,
// and unbuffered that is one file-system call for each of them.
voidpf ZCALLBACK openArchiveForReading(voidpf, const void* path, int mode)
{
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ)
        return nullptr;
    std::FILE* file = _wfopen(static_cast<const wchar_t*>(path), L"rb");
    if (file)
        std::setvbuf(file, nullptr, _IOFBF, kArchiveReadBuffer);
    return file;
}

} // namespace

UnpackResult unzipFiles(const std::wstring& archivePath, const std::wstring& targetFolder)
{
    std::printf("%s", consoleText(L"\n" + archivePath + L", " + targetFolder +
                                  L"---------UpdateTool:UpdateTool::unzipFiles:420--\n")
                          .c_str());

    zlib_filefunc64_def fileFunctions = archiveFileFunctions(openArchiveForReading);
    UniqueArchive archive(unzOpen2_64(archivePath.c_str(), &fileFunctions));

    if (!SetCurrentDirectoryW(targetFolder.c_str())) {
        std::printf("%s", consoleText(L"Error changing into " + targetFolder + L", aborting\n").c_str());
        return UnpackResult::TargetNotEntered;
    }

    const WalkOutcome walk = extractEntries(archive.get());
    archive.reset();
    return walk.complete() ? UnpackResult::Complete : UnpackResult::Incomplete;
}

} // namespace UpdateProgram
