#include "src/UpdateTool.h"

#include "src/DebugLog.h"
#include "src/Texts.h"
#include "common/AnsiText.h"
#include "common/FileSystem.h"
#include "common/FolderLink.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

namespace {

// Deletes the tree at `path` (ANSI code page), telling `progress` the whole percentage
// before each deletion. Junctions and folder links are removed as themselves and
// never searched: following one would delete files that live outside the tree. The
// tree is walked in the \\?\ form, which reaches the files of deep trees past
// MAX_PATH. Entries that cannot be removed are passed over; true when nothing is left
// at `path`.
bool removeTree(std::string path, const std::function<void(int)>& progress)
{
    if (path.empty())
        return false;
    if (!isSeparator(path.back()))
        path += '\\';

    struct Folder {
        std::wstring path;
        bool isLink;
    };
    const std::wstring start = longPathForm(fromAnsi(path));
    if (start.empty())
        return false;
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
        progress(percentOf(i));
        DeleteFileW(files[i].c_str());
    }
    for (size_t i = 0; i < folders.size(); ++i) {
        progress(percentOf(files.size() + i));
        const Folder& folder = folders[folders.size() - 1 - i];
        if (folder.isLink)
            removeFolderLink(folder.path);
        else
            RemoveDirectoryW(folder.path.c_str());
    }
    progress(100);
    return GetFileAttributesW(start.c_str()) == INVALID_FILE_ATTRIBUTES;
}

} // namespace

WorkerOutcome UpdateTool::deployPackage()
{
    DebugLog& log = DebugLog::instance();
    log.write(Texts::kLogNewFolder, stagingDir.c_str());
    // What an earlier attempt left in the staging folder goes first, so the installed
    // folder holds the package and nothing else. A left-over that cannot be removed
    // (read-only, held open) would be moved into place with it: the install fails.
    const bool stagingEmptied = removeTree(stagingDir, [](int) {});
    makeFolders(stagingDir);

    log.write(Texts::kLogExtractStart, packageFile.c_str());
    if (!stagingEmptied || unzipFiles(packageFile, stagingDir) != 0) {
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
    removeTree(std::move(path), [this](int percent) { reportProgress(ProgressPhase::Delete, percent); });
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
