#include "src/UpdateTool.h"

#include "src/DebugLog.h"
#include "src/Texts.h"
#include "common/FileSystem.h"
#include "common/FolderLink.h"
#include "common/UniqueHandle.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

// True when the extraction can write over every file an earlier attempt left below
// `folder`. It skips a file it cannot open, and such a left-over (read-only, or held
// open by another process without shared writing) would be moved into place as if it
// were the package's own copy. Links to folders are not followed.
bool leftoversReplaceable(const std::string& folder)
{
    return walkFolderTree(longPathForm(fromAnsi(folder)), [](const std::wstring& item, DWORD attributes) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return true;
        if (attributes & FILE_ATTRIBUTE_READONLY)
            return false;
        const UniqueFileHandle file(CreateFileW(item.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return static_cast<bool>(file);
    });
}

} // namespace

WorkerOutcome UpdateTool::deployPackage()
{
    DebugLog& log = DebugLog::instance();
    log.write(Texts::kLogNewFolder, stagingDir.c_str());
    makeFolders(stagingDir);

    log.write(Texts::kLogExtractStart, packageFile.c_str());
    // A staging folder left by an earlier attempt is reused, but only when every file
    // in it will take the package's copy.
    if (!leftoversReplaceable(stagingDir) || unzipFiles(packageFile, stagingDir) != 0) {
        log.write(Texts::kLogExtractFailed);
        return WorkerOutcome::UnpackFailed;
    }

    log.write(Texts::kLogDeleteStart, targetDir.c_str());
    deleteFolder(targetDir);

    log.write(Texts::kLogApplyStart, stagingDir.c_str());
    // Both folders sit below app, so this is a rename within one volume. Anything the
    // delete could not remove (a read-only file) makes it fail here.
    if (std::rename(stagingDir.c_str(), targetDir.c_str()) != 0) {
        log.write(Texts::kLogApplyFailed);
        return WorkerOutcome::ApplyFailed;
    }

    // The record is saved before the pass ends: once busy clears, the button may start
    // the client, and the next launch must find the install.
    versionRecord.save();
    return WorkerOutcome::Installed;
}

int UpdateTool::deleteFolder(std::string path)
{
    if (path.empty())
        return 0;
    if (!isSeparator(path.back()))
        path += '\\';

    // Junctions and folder links are removed as themselves and never searched:
    // following one would delete files that live outside the tree. The tree is
    // walked in the \\?\ form, which reaches the files of deep trees past MAX_PATH.
    struct Folder {
        std::wstring path;
        bool isLink;
    };
    const std::wstring start = longPathForm(fromAnsi(path));
    if (start.empty())
        return 0;
    const bool startIsLink = isFolderLinkPath(start);
    std::vector<Folder> folders{{start, startIsLink}};
    std::vector<std::wstring> files;
    if (!startIsLink) {
        walkFolderTree(start, [&](const std::wstring& item, DWORD attributes) {
            if (attributes & FILE_ATTRIBUTE_DIRECTORY)
                folders.push_back({item + L'\\', isFolderLink(attributes)});
            else
                files.push_back(item);
            return true;
        });
    }

    const size_t total = files.size() + folders.size();
    // In 64 bits: done * 100 in a 32-bit size_t would wrap past 42 million entries.
    auto percentOf = [total](size_t done) { return static_cast<int>(std::uint64_t{done} * 100 / total); };
    for (size_t i = 0; i < files.size(); ++i) {
        reportProgress(ProgressPhase::Delete, percentOf(i));
        DeleteFileW(files[i].c_str());
    }
    for (size_t i = 0; i < folders.size(); ++i) {
        reportProgress(ProgressPhase::Delete, percentOf(files.size() + i));
        const Folder& folder = folders[folders.size() - 1 - i];
        if (folder.isLink)
            removeFolderLink(folder.path);
        else
            RemoveDirectoryW(folder.path.c_str());
    }
    reportProgress(ProgressPhase::Delete, 100);
    return 0;
}

DWORD WINAPI installLocalPackage(LPVOID parameter)
{
    auto* tool = static_cast<UpdateTool*>(parameter);
    WorkerOutcome outcome = WorkerOutcome::UnpackFailed;
    try {
        outcome = tool->deployPackage();
    } catch (...) {
        // Out of memory mid-deployment: nothing escapes the thread, and nothing was
        // recorded, so the install counts as failed.
    }
    if (outcome != WorkerOutcome::Installed) {
        tool->finishPass(outcome);
        MessageBoxW(nullptr, Texts::kMessageUnpackFailed, Texts::kMessageUnpackFailed, MB_OK);
        return 0;
    }
    // The pass stays busy while the worker starts the client itself: ended first, it
    // would let a press of the button start a second client in the meantime.
    tool->showOutcome(WorkerOutcome::Installed);
    tool->launchClient();
    tool->finishPass(WorkerOutcome::NotStarted);
    return 0;
}
