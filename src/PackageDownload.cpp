#include "src/UpdateTool.h"

#include "src/DebugLog.h"
#include "src/GatewayClient.h"
#include "src/InstallLayout.h"
#include "src/PackageCheck.h"
#include "src/Texts.h"
#include "common/FileSystem.h"
#include "common/UniqueHandle.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

namespace {

// Whole percent of `received` out of `total`, in 64 bits so packages above 41 MiB do
// not wrap; no percentage without a length.
int downloadPercent(std::uint64_t received, std::uint64_t total)
{
    return static_cast<int>(std::min<std::uint64_t>(received * 100 / total, 100));
}

// The download file. Every write and the close are checked: a disk that fills up, or
// a server that never stops sending until it does, ends the download as a failure
// that may be retried, and the file it cut short is deleted, never unpacked. A file
// that cannot be opened at all takes no bytes; the extraction then finds no archive.
class DownloadSink {
public:
    explicit DownloadSink(std::string path)
        : m_path(std::move(path)),
          m_file(CreateFileA(m_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }

    void write(const char* data, DWORD size)
    {
        if (!m_file)
            return;
        DWORD written = 0;
        if (!WriteFile(m_file.get(), data, size, &written, nullptr) || written != size)
            fail("cannot write the download file", GetLastError());
    }

    void close()
    {
        if (m_file && !CloseHandle(m_file.release()))
            fail("cannot close the download file", GetLastError());
    }

private:
    [[noreturn]] void fail(const char* what, DWORD error)
    {
        if (m_file)
            CloseHandle(m_file.release());
        DeleteFileA(m_path.c_str());
        throw std::system_error(static_cast<int>(error), std::system_category(), what);
    }

    std::string m_path;
    UniqueFileHandle m_file;
};

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
    DownloadSink file(downloadFile);
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
    file.close();
    return digest ? digest->finishHex() : std::string();
}

WorkerOutcome UpdateTool::downloadPackage(const VersionOffer& offer)
{
    try {
        // The archive and package.nw of an earlier install stay in the download
        // folder. One that cannot be replaced (read-only, held open) would be unpacked
        // and installed as this version while this download's bytes went nowhere.
        const bool archiveReplaceable = removeLeftover(downloadFile);
        const std::string digest = fetchPackage(offer.package.url, !offer.package.sha256.empty());
        DebugLog& log = DebugLog::instance();
        // Before anything is unpacked: bytes other than the release's are never
        // installed, and never left where the next pass could take them for its own.
        if (digest != offer.package.sha256) {
            log.write(Texts::kLogDigestMismatch, offer.package.sha256.c_str(), digest.c_str());
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
