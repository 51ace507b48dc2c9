// Ownership of WinINet handles. A request uses three: the internet handle (the root),
// a connection below it and the request below that. They are always closed request
// first, then connection, then internet handle, and the code says so where it happens
// (CloseRequestHandles) instead of leaning on the order members happen to be declared.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <memory>

namespace Varnu {

// Closes through the tool class, so a test tool can watch the closing order.
template <class HttpTool>
struct InternetHandleCloser {
    void operator()(HINTERNET hInternet) const noexcept { HttpTool::CloseHandle(hInternet); }
};

// Sole owner of one HINTERNET; empty is NULL. Move-only, no conversion to the raw handle.
template <class HttpTool>
using unique_hinternet = std::unique_ptr<void, InternetHandleCloser<HttpTool>>;

template <class HttpTool>
void CloseRequestHandles(unique_hinternet<HttpTool>& hRequest, unique_hinternet<HttpTool>& hConnection,
                         unique_hinternet<HttpTool>& hInternet) noexcept
{
    hRequest.reset();
    hConnection.reset();
    hInternet.reset();
}

}  // namespace Varnu
