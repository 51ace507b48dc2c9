#include "src/UpdateTool.h"

#include "src/GatewayAnswer.h"
#include "src/GatewayClient.h"
#include "src/InstallLayout.h"
#include "src/PackageCheck.h"

#include <memory>
#include <string>

namespace {

// One byte of the answer's 10240-byte buffer stays free for the terminator.
constexpr std::uint64_t kAnswerLimit = 10239;

// Sends the version query with the record's values to `url` and waits for the
// answer's headers. `client` owns the connection and must outlive the response.
std::unique_ptr<HttpResponse> requestVersion(HttpClient& client, const std::string& url,
                                             const VersionRecord& record)
{
    const std::string type = record.getType();
    const std::string ver = record.getVer();
    const std::string platform = record.getPlatform();

    client.SetUseUtf8(TRUE);
    client.AddParam("a", "getVersionConfig");
    client.AddParam("m", "Platform");
    client.AddParam("type", type.c_str());
    client.AddParam("version", ver.c_str());
    client.AddParam("platform", platform.c_str());
    client.StartFormPost(url.c_str(), kLauncherRequestFlags);
    OutputDebugStringA(type.c_str());
    OutputDebugStringA(ver.c_str());
    OutputDebugStringA(platform.c_str());

    std::unique_ptr<HttpResponse> response;
    while (!response)
        response = client.ContinuePost();
    return response;
}

// The answer's text up to its first NUL byte, as the log and the reader see it.
std::string readAnswer(HttpResponse& response)
{
    std::string answer;
    readResponseBody(response, kAnswerLimit, [&answer](const char* data, DWORD size) { answer.append(data, size); });
    answer.resize(answer.find('\0') == std::string::npos ? answer.size() : answer.find('\0'));
    OutputDebugStringA(answer.c_str());
    return answer;
}

// Platform and type as the query sent them; the version the answer gave as the JSON
// text carried it, or, when it gave none, the one the query sent.
// The digest is the package's, or empty for an answer that offers none. True in a
// build without a key.
bool signedWhereKeyed(const PackageOffer& offer, const VersionRecord& sent)
{
    const PackageKeys& keys = builtInPackageKeys();
    if (keys.empty())
        return true;
    const std::string ver = offer.verFromAnswer ? offer.ver : sentUtf8(offer.ver);
    const std::string text =
        releaseSignedText(sentUtf8(sent.getPlatform()), sentUtf8(sent.getType()), ver, offer.sha256);
    return signatureVerifiesWithAny(keys, text, offer.signature);
}

} // namespace

VersionOffer UpdateTool::applyReading(const GatewayReading& reading)
{
    switch (reading.answer) {
    case GatewayAnswer::ServerError:
        return {WorkerOutcome::ServerError, {}};
    case GatewayAnswer::Refused:
        return {WorkerOutcome::Refused, {}};
    case GatewayAnswer::UrlNotText:
        return {WorkerOutcome::UrlNotText, {}};
    case GatewayAnswer::NoUpdate:
    case GatewayAnswer::Package:
        break;
    }
    // Checked before anything of the answer is kept: a package, or a version to start
    // without one, that this launcher's key has not signed for this platform, type and
    // version is no answer to its query. Unsigned, "nothing to install" would choose
    // any folder on disk for the button to start: an older version, or a half-written
    // one.
    const PackageOffer& offer = reading.package;
    if (!signedWhereKeyed(offer, versionRecord))
        return {WorkerOutcome::ServerError, {}};
    versionRecord.setVer(offer.ver);
    stagingDir = InstallLayout::stagingFolder(installRoot, offer.ver);
    targetDir = InstallLayout::versionFolder(installRoot, offer.ver);
    if (offer.url.empty())
        return {WorkerOutcome::NoUpdate, {}};
    return {std::nullopt, offer};
}

VersionOffer UpdateTool::queryVersion()
{
    try {
        versionRecord.load(recordPath);
        HttpClient client;
        const std::unique_ptr<HttpResponse> response = requestVersion(client, gatewayUrl, versionRecord);
        const std::string answer = readAnswer(*response);
        const PackageProof proof = builtInPackageKeys().empty() ? PackageProof::Digest : PackageProof::Signature;
        return applyReading(readGatewayAnswer(answer.c_str(), versionRecord.getVer(), proof));
    } catch (...) {
        // Whatever the failure, memory included, the query ends as one that got no
        // answer: nothing may escape the worker's thread.
        return {WorkerOutcome::NetworkError, {}};
    }
}
