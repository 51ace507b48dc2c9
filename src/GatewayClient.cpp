#include "src/GatewayClient.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace {

constexpr DWORD kReadBufferSize = 10240;
constexpr DWORD kReadSize = kReadBufferSize - 1;

} // namespace

std::uint64_t readResponseBody(HttpResponse& response, std::uint64_t limit, const BodySink& sink)
{
    DWORD contentLength = 0;
    response.GetContentLength(contentLength);

    auto buffer = std::make_unique<char[]>(kReadBufferSize);
    std::uint64_t received = 0;
    for (;;) {
        const DWORD wanted = static_cast<DWORD>(std::min<std::uint64_t>(kReadSize, limit - received));
        const DWORD got = response.ReadContent(reinterpret_cast<BYTE*>(buffer.get()), wanted);
        if (got == 0)
            break;
        received += got;
        sink(buffer.get(), got);
    }
    // A reset mid-body reaches us as a clean end under some stacks: a body shorter
    // than its Content-Length is a failed read, never a shorter answer or package.
    if (received < contentLength)
        throw std::runtime_error("body shorter than its Content-Length");
    return received;
}
