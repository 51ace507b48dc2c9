#include "src/UpdateTool.h"

#include "src/DebugLog.h"
#include "src/InstallLayout.h"
#include "common/ArchiveWalk.h"

#include <direct.h>

#include <utility>

UpdateTool* g_updateTool = nullptr;

UpdateTool::UpdateTool()
{
    resolvePaths();
}

UpdateTool::UpdateTool(std::string root, std::string launcherDir)
    : moduleDir(std::move(launcherDir)), recordPath(root.empty() ? std::string() : InstallLayout::recordFile(root)),
      installRoot(std::move(root))
{
}

void UpdateTool::resolvePaths()
{
    const std::optional<std::string> localAppData = localAppDataFolder();
    // Without a name for the folder both stay empty: "\tarnvaleerp" would lie at the
    // root of the current drive, and a record found there would pass for an install.
    installRoot = localAppData ? InstallLayout::installRootIn(*localAppData) : std::string();
    recordPath = localAppData ? InstallLayout::recordFile(installRoot) : std::string();
    moduleDir = launcherFolder();
    DebugLog::instance().writeText(moduleDir.c_str());
}

bool UpdateTool::checkInstallation()
{
    if (!hasInstallRoot())
        return false;
    if (versionRecord.load(recordPath)) {
        targetDir = InstallLayout::versionFolder(installRoot, versionRecord.getVer());
        return true;
    }

    packageFile = InstallLayout::shippedArchive(moduleDir);
    if (GetFileAttributesA(packageFile.c_str()) != INVALID_FILE_ATTRIBUTES) {
        const VersionRecord shipped(InstallLayout::shippedRecord(moduleDir));
        stagingDir = InstallLayout::stagingFolder(installRoot, shipped.getVer());
        targetDir = InstallLayout::versionFolder(installRoot, shipped.getVer());
        // versionRecord keeps recordPath: deployment saves the shipped version into
        // the install root.
        versionRecord.copyValuesFrom(shipped);
        onlineInstall = 0;
        return false;
    }

    downloadFile = InstallLayout::downloadArchive(installRoot);
    downloadDir = InstallLayout::downloadFolder(installRoot);
    packageFile = InstallLayout::downloadedPackage(installRoot);
    onlineInstall = 1;
    return false;
}

void UpdateTool::setStatus(const wchar_t* text) const
{
    SendMessageW(statusText, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void UpdateTool::setButtonCaption(const wchar_t* text) const
{
    SendMessageW(actionButton, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

namespace {
// The extraction header names where the extraction lives, as log readers know it
// from every release: the source file and the line of this log call there.
constexpr const char* kExtractionSource = "src\\UpdateTool.cpp";
constexpr int kExtractionLogLine = 374;
} // namespace

int UpdateTool::unzipFiles(const std::string& archivePath, const std::string& destinationFolder)
{
    DebugLog& log = DebugLog::instance();
    log.write("\n%s, %s---------%s:%s:%d--\n", archivePath.c_str(), destinationFolder.c_str(),
              kExtractionSource, "UpdateTool::unzipFiles", kExtractionLogLine);

    zlib_filefunc64_def fileFunctions = archiveFileFunctions();
    UniqueArchive archive(unzOpen2_64(archivePath.c_str(), &fileFunctions));
    if (!archive)
        return -1;
    // Entries are written relative to the current directory, which is process-wide:
    // nothing else of the launcher may rely on it while the walk runs.
    if (_chdir(destinationFolder.c_str()) != 0) {
        log.write("Error changing into %s, aborting\n", destinationFolder.c_str());
        return -1;
    }
    // Left even when the walk throws: a folder that is the current directory can be
    // neither renamed into place nor deleted, so a retry would fail on it.
    struct BackToLauncherFolder {
        const std::string& folder;
        ~BackToLauncherFolder() { _chdir(folder.c_str()); }
    } backToLauncherFolder{moduleDir};
    const int walkStatus = extractAll(archive.get());
    archive.reset(); // closes an entry the walk left open first
    // A walk stopped by an entry that was not written whole left a partial tree;
    // installing it would pass a damaged package off as the new version.
    return walkStatus == 0 ? 0 : -1;
}

int UpdateTool::extractAll(unzFile archive)
{
    const WalkOutcome outcome = extractEntries(archive, [this](std::uint64_t done, std::uint64_t total) {
        reportProgress(ProgressPhase::Extract, static_cast<int>(done * 100 / total));
    });
    return outcome.stopStatus;
}
