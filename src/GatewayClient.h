#pragma once

#include "http/HttpClient.h"

// The one instantiation of the HTTP client the launcher uses: narrow text, WinINet.
using HttpClient = Varnu::CHttpClientT<Varnu::CHttpToolA, Varnu::CHttpEncoderA>;
using HttpResponse = Varnu::CHttpResponseT<Varnu::CHttpToolA>;

// Every request of the launcher comes from the network, never from a cache, and says
// so to proxies.
constexpr DWORD kLauncherRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                        INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_RESYNCHRONIZE |
                                        INTERNET_FLAG_HYPERLINK | INTERNET_FLAG_NO_UI |
                                        INTERNET_FLAG_PRAGMA_NOCACHE;
// The value the gateway's operators and the tests know the requests by.
static_assert(kLauncherRequestFlags == 0x84400F00, "launcher request flags");

#include <cstdint>
#include <functional>

// Where a response body goes, one read at a time: the answer's text, a package file.
using BodySink = std::function<void(const char* data, DWORD size)>;

// Reads the body of `response` to its end into a 10240-byte buffer, in reads of at
// most 10239 bytes and of no more than the `limit` bytes still allowed, handing each
// read to `sink`. A body that reaches `limit` makes the next read ask for 0 bytes,
// which the client refuses with an exception. Returns the bytes read. Throws
// std::exception on a failed read and when the body ends before its Content-Length:
// WinINet reports a connection that ends early as a clean end of the body.
std::uint64_t readResponseBody(HttpResponse& response, std::uint64_t limit, const BodySink& sink);

// No limit: the package download takes the body whatever its length.
inline constexpr std::uint64_t kWholeBody = UINT64_MAX;
