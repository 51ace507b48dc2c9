#include "UpdateTool.h"

#include "GatewayAnswer.h"
#include "GatewayClient.h"

#include <memory>
#include <stdexcept>

namespace {

constexpr DWORD kAnswerBufferSize = 10240;
// One byte stays free for the terminator; an answer that reaches this many bytes
// makes the next read ask for 0 bytes, which the client refuses.
constexpr DWORD kAnswerLimit = kAnswerBufferSize - 1;

} // namespace

VersionOffer UpdateTool::queryVersion()
{
    HttpClient client;
    std::unique_ptr<HttpResponse> response;
    try {
        versionRecord.load(recordPath);
        const std::string type = versionRecord.getType();
        const std::string ver = versionRecord.getVer();
        const std::string platform = versionRecord.getPlatform();

        client.SetUseUtf8(TRUE);
        client.AddParam("a", "getVersionConfig");
        client.AddParam("m", "Platform");
        client.AddParam("type", type.c_str());
        client.AddParam("version", ver.c_str());
        client.AddParam("platform", platform.c_str());
        client.StartFormPost(ZORVIK_GATEWAY_URL, kLauncherRequestFlags);
        OutputDebugStringA(type.c_str());
        OutputDebugStringA(ver.c_str());
        OutputDebugStringA(platform.c_str());

        while (!response)
            response = client.ContinuePost();

        DWORD contentLength = 0;
        response->GetContentLength(contentLength);

        auto answer = std::make_unique<char[]>(kAnswerBufferSize);
        DWORD received = 0;
        while (DWORD got = response->ReadContent(reinterpret_cast<BYTE*>(answer.get()) + received,
                                                 kAnswerLimit - received))
            received += got;
        // A connection reset mid-answer reaches us as a clean end under some stacks: an
        // answer shorter than its Content-Length is a failed read, not a shorter answer.
        if (received < contentLength)
            throw std::runtime_error("answer shorter than its Content-Length");
        answer[received] = '\0';
        OutputDebugStringA(answer.get());

        std::string url;
        std::string newVer = ver;
        switch (readGatewayAnswer(answer.get(), ver, url, newVer)) {
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
        versionRecord.setVer(newVer);
        stagingDir = installRoot + "\\app\\temp" + newVer;
        targetDir = installRoot + "\\app\\" + newVer;
        packageUrl = url;
        if (url.empty())
            return {WorkerOutcome::NoUpdate, {}};
        return {std::nullopt, url};
    } catch (const std::exception&) {
        return {WorkerOutcome::NetworkError, {}};
    }
}
