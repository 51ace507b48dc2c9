#pragma once

#include "src/GatewayAnswer.h"
#include "src/VersionRecord.h"
#include "src/WorkerOutcome.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

typedef void* unzFile;

// Phases whose percentage the status line shows while the worker runs.
enum class ProgressPhase : std::int32_t { Download = 0, Extract = 1, Delete = 2 };

// What a version query leaves for the rest of its pass: the outcome that ends the pass
// now, or the package to install as the answer offered it (its SHA-256 empty when the
// answer gave none). It lives on the worker's own stack, so a retry started once the
// pass has ended cannot change what this pass downloads.
struct VersionOffer {
    std::optional<WorkerOutcome> ending;
    PackageOffer package;
};

// The launcher's one main object: created once at start, never destroyed. The
// user-interface thread and at most one worker thread share it; they meet only
// through the three control handles (the worker sends synchronous messages to them)
// and the byte flags below, each written by one side at a time.
class UpdateTool {
public:
    // Resolves installRoot, recordPath and moduleDir (logging the two folders).
    UpdateTool();
    // For tests: the layout below the given root ("" for none) and launcher folder,
    // nothing logged.
    UpdateTool(std::string root, std::string launcherDir);

    UpdateTool(const UpdateTool&) = delete;
    UpdateTool& operator=(const UpdateTool&) = delete;

    void resolvePaths();

    // False when the shell gave no local application-data folder, or none with a name
    // in the ANSI code page: installRoot and recordPath are empty, and nothing may be
    // installed or started (NoInstallRoot).
    bool hasInstallRoot() const { return !installRoot.empty(); }

    // True when the record in the install root loads: the client is installed and
    // targetDir names its folder. Otherwise prepares one install road (res.dat beside
    // the launcher, or the network, see onlineInstall) and returns false; without an
    // install root it prepares none.
    bool checkInstallation();

    // Starts erp.exe beside the launcher with the installed folder (or package.nw
    // beside the launcher) and ends the process with exit code 1. Returns only when
    // the runtime could not be started, after showing that in the status line; never
    // throws.
    void launchClient();

    // Worker thread only: shows the phase's text and the bar at `percent` (clamped to
    // 0..100) unless both equal what was shown last.
    void reportProgress(ProgressPhase phase, int percent);

    // Worker steps of the network install. They show progress, never the outcome:
    // finishPass shows that and ends the pass. Neither throws: any failure of the
    // query is a NetworkError, any failure after it a DownloadFailed.
    VersionOffer queryVersion();
    // The query's last piece: records the answer's version and the folders it names,
    // and says how the pass goes on. In a build with a package key, a package whose
    // signature does not verify is a ServerError, and nothing of its answer is kept.
    VersionOffer applyReading(const GatewayReading& reading);
    // Downloads, checks and installs the offered package. A download whose digest is
    // not the offer's is deleted, and nothing is unpacked: DownloadFailed.
    WorkerOutcome downloadPackage(const VersionOffer& offer);
    // Shows the outcome's texts, sets its flags and clears busy, in that order.
    void finishPass(WorkerOutcome outcome);
    // The outcome's texts alone: the pass goes on.
    void showOutcome(WorkerOutcome outcome) const;
    // Downloads `url` into downloadFile with progress; the request and its handles
    // are gone when it returns. With `withDigest`, returns the SHA-256 of the bytes
    // written (lower-case hex), computed as they are written; otherwise the empty
    // text. Throws std::exception on any failure, including a body shorter than its
    // Content-Length, and a write or close of the file that fails (a full disk), which
    // deletes the file first.
    std::string fetchPackage(const std::string& url, bool withDigest);
    // Unpacks `archivePath` into `destinationFolder`; 0 when every entry was written
    // whole, -1 when the archive could not be opened, the folder entered, or an entry
    // stopped the walk: its name refused, its file or folder not created or written,
    // its data not read or failing its CRC check.
    int unzipFiles(const std::string& archivePath, const std::string& destinationFolder);
    // Walks every entry of the open archive with progress; 0 when the walk reached the
    // end, otherwise the status that stopped it.
    int extractAll(unzFile archive);
    // Unpacks packageFile into stagingDir and swaps it in for targetDir, then saves the
    // record: Installed, or UnpackFailed or ApplyFailed.
    WorkerOutcome deployPackage();
    // Deletes a folder tree with progress in the Delete phase. Links to folders are
    // removed, never followed; an empty path deletes nothing. Returns 0.
    int deleteFolder(std::string path);

    void setStatus(const wchar_t* text) const;
    void setButtonCaption(const wchar_t* text) const;

    // Members in the order the rest of the launcher knows them.
    std::int32_t lastPercent = 0;
    ProgressPhase lastPhase = ProgressPhase::Download;
    HWND progressBar = nullptr;
    HWND statusText = nullptr;
    HWND actionButton = nullptr;
    std::atomic<std::uint8_t> busy{0};
    std::atomic<std::uint8_t> failed{0};
    std::atomic<std::uint8_t> launchOnConfirm{0};
    std::uint8_t onlineInstall = 0;
    std::string downloadFile;
    std::string moduleDir;
    std::string targetDir;
    std::string packageFile;
    std::string downloadDir;
    std::string stagingDir;
    std::string recordPath;
    std::string installRoot;
    VersionRecord versionRecord;
    // The gateway the query asks: the build's own, unless a test names another.
    std::string gatewayUrl = ZORVIK_GATEWAY_URL;
    // For tests: runs on the worker once its query has returned, before the rest of
    // its pass; the moment a retry started early would change what the pass does.
    // Empty in the launcher.
    std::function<void()> afterQuery;
};

// The process-wide instance the dialog procedures work on.
extern UpdateTool* g_updateTool;

// Thread entries; each returns 0.
DWORD WINAPI updateWorker(LPVOID tool);
DWORD WINAPI installLocalPackage(LPVOID tool);

// Starts `exePath` with `commandLine` (narrow, ANSI), no window, without waiting.
// 0 when the process was created, -1 otherwise.
int startProcess(const std::string& exePath, const std::string& commandLine);
