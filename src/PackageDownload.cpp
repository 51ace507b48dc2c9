#include "src/UpdateTool.h"

#include "src/DebugLog.h"
#include "src/GatewayClient.h"
#include "src/InstallLayout.h"
#include "src/PackageCheck.h"
#include "src/Texts.h"
#include "common/FileSystem.h"

#include <algorithm>
#include <fstream>
#include <memory>
#include <optional>

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

std::string UpdateTool::fetchPackage(const std::string& url, bool withDigest)
{
    HttpClient client;
    const std::unique_ptr<HttpResponse> response = client.SendGet(url.c_str(), kLauncherRequestFlags);
    DWORD contentLength = 0;
    response->GetContentLength(contentLength);

    makeFolders(downloadDir);
    std::ofstream file(downloadFile, std::ios::binary | std::ios::trunc);
    std::optional<PackageDigest> digest;
    if (withDigest)
        digest.emplace();
    std::uint64_t received = 0;
    readResponseBody(*response, kWholeBody, [&](const char* data, DWORD size) {
        file.write(data, size);
        if (digest)
            digest->add(data, size);
        received += size;
        if (contentLength != 0)
            reportProgress(ProgressPhase::Download, downloadPercent(received, contentLength));
    });
    return digest ? digest->finishHex() : std::string();
}

WorkerOutcome UpdateTool::downloadPackage(const VersionOffer& offer)
{
    try {
        // The archive and package.nw of an earlier install stay in the download
        // folder. One that cannot be replaced (read-only, held open) would be unpacked
        // and installed as this version while this download's bytes went nowhere.
        const bool archiveReplaceable = removeLeftover(downloadFile);
        const std::string digest = fetchPackage(offer.packageUrl, !offer.packageSha256.empty());
        DebugLog& log = DebugLog::instance();
        // Before anything is unpacked: bytes other than the release's are never
        // installed, and never left where the next pass could take them for its own.
        if (digest != offer.packageSha256) {
            log.write(Texts::kLogDigestMismatch, offer.packageSha256.c_str(), digest.c_str());
            DeleteFileA(downloadFile.c_str());
            return WorkerOutcome::DownloadFailed;
        }
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
    } catch (...) {
        // Nothing may escape the worker's thread; the pass ends as a failed download.
        return WorkerOutcome::DownloadFailed;
    }
}

DWORD WINAPI updateWorker(LPVOID parameter)
{
    auto* tool = static_cast<UpdateTool*>(parameter);
    const VersionOffer offer = tool->queryVersion();
    if (tool->afterQuery)
        tool->afterQuery();
    tool->finishPass(offer.ending ? *offer.ending : tool->downloadPackage(offer));
    return 0;
}
