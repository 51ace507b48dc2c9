#pragma once

#include "http/HttpClient.h"

// The one instantiation of the HTTP client the launcher uses: narrow text, WinINet.
using HttpClient = Varnu::CHttpClientT<Varnu::CHttpToolA, Varnu::CHttpEncoderA>;
using HttpResponse = Varnu::CHttpResponseT<Varnu::CHttpToolA>;

// Every request of the launcher comes from the network, never from a cache, and says
// so to proxies: INTERNET_FLAG_RELOAD | NO_CACHE_WRITE | KEEP_CONNECTION |
// RESYNCHRONIZE | HYPERLINK | NO_UI | PRAGMA_NOCACHE.
constexpr DWORD kLauncherRequestFlags = 0x84400F00;
