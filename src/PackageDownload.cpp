#include "UpdateTool.h"

#include "DebugLog.h"
#include "GatewayClient.h"
#include "InstallLayout.h"
#include "Texts.h"
#include "common/FileSystem.h"

#include <algorithm>
#include <fstream>
#include <memory>

namespace {

// Whole percent of `received` out of `total`, in 64 bits so packages above 41 MiB do
// not wrap; no percentage without a length.
int downloadPercent(std::uint64_t received, std::uint64_t total)
{
    return static_cast<int>(std::min<std::uint64_t>(received * 100 / total, 100));
}

// Deletes what an earlier run left at `path`; false when something still stands there.
// Such a file could not be written over either, and would pass for this run's.
bool removeLeftover(const std::string& path)
{
    DeleteFileA(path.c_str());
    return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

} // namespace

void UpdateTool::fetchPackage(const std::string& url)
{
    HttpClient client;
    const std::unique_ptr<HttpResponse> response = client.SendGet(url.c_str(), kLauncherRequestFlags);
    DWORD contentLength = 0;
    response->GetContentLength(contentLength);

    makeFolders(downloadDir);
    std::ofstream file(downloadFile, std::ios::binary | std::ios::trunc);
    std::uint64_t received = 0;
    readResponseBody(*response, kWholeBody, [&](const char* data, DWORD size) {
        file.write(data, size);
        received += size;
        if (contentLength != 0)
            reportProgress(ProgressPhase::Download, downloadPercent(received, contentLength));
    });
}

WorkerOutcome UpdateTool::downloadPackage(const std::string& url)
{
    try {
        // The archive and package.nw of an earlier install stay in the download
        // folder. One that cannot be replaced (read-only, held open) would be unpacked
        // and installed as this version while this download's bytes went nowhere.
        const bool archiveReplaceable = removeLeftover(downloadFile);
        fetchPackage(url);
        DebugLog& log = DebugLog::instance();
        log.write("%s\n", downloadFile.c_str());
        log.write("%s\n", downloadDir.c_str());
        log.write(Texts::kLogUnpackStart);
        // Named from the install root, not taken from packageFile: only the download
        // folder's own copy may ever be deleted.
        const std::string unpackedPackage = InstallLayout::downloadedPackage(installRoot);
        if (!archiveReplaceable || !removeLeftover(unpackedPackage) || unzipFiles(downloadFile, downloadDir) != 0) {
            log.write(Texts::kLogUnpackFailed);
            return WorkerOutcome::UnpackFailed;
        }
        return deployPackage();
    } catch (const std::exception&) {
        return WorkerOutcome::DownloadFailed;
    }
}

DWORD WINAPI updateWorker(LPVOID parameter)
{
    auto* tool = static_cast<UpdateTool*>(parameter);
    const VersionOffer offer = tool->queryVersion();
    tool->finishPass(offer.ending ? *offer.ending : tool->downloadPackage(offer.packageUrl));
    return 0;
}
