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
