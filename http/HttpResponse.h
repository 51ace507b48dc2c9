// The response of one request. It owns the request's three WinINet handles from its
// creation until it is deleted; the client that made it keeps no reference, so a
// response may outlive its client.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <utility>

#include "http/HttpHandle.h"

namespace Varnu {

template <class HttpTool>
class CHttpResponseT {
public:
    using Handle = unique_hinternet<HttpTool>;

    CHttpResponseT(Handle&& hInternet, Handle&& hConnection, Handle&& hRequest) noexcept
        : m_hInternet(std::move(hInternet)), m_hConnection(std::move(hConnection)), m_hRequest(std::move(hRequest))
    {
    }
    CHttpResponseT(const CHttpResponseT&) = delete;
    CHttpResponseT& operator=(const CHttpResponseT&) = delete;

    virtual ~CHttpResponseT() { CloseRequestHandles(m_hRequest, m_hConnection, m_hInternet); }

    // The Content-Length header. FALSE when the response has none; cbContLen is then
    // left as it was.
    BOOL GetContentLength(DWORD& cbContLen) const
    {
        if (!m_hRequest)
            HttpTool::RaiseMessage("CHttpResponseT::GetContentLength: m_hRequest can not be NULL.");
        return HttpTool::QueryContentLength(m_hRequest.get(), cbContLen);
    }

    // Reads at most cbBuff body bytes; returns how many, 0 at the end of the body. The
    // HTTP status is not looked at: an error page is content like any other. WinINet
    // reports a body cut short by the server as a clean end too, so a caller that
    // needs the whole body compares what it read with GetContentLength.
    DWORD ReadContent(BYTE* pbyBuff, DWORD cbBuff)
    {
        if (!m_hRequest)
            HttpTool::RaiseMessage("CHttpResponseT::ReadContent: m_hRequest can not be NULL.");
        if (!pbyBuff)
            HttpTool::RaiseMessage("CHttpResponseT::ReadContent: pbyBuff can not be NULL.");
        if (cbBuff == 0)
            HttpTool::RaiseMessage("CHttpResponseT::ReadContent: cbBuff can not be zero.");
        return HttpTool::InternetReadFile(m_hRequest.get(), pbyBuff, cbBuff);
    }

private:
    Handle m_hInternet;
    Handle m_hConnection;
    Handle m_hRequest;
};

}  // namespace Varnu
