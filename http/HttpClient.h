// The HTTP client: one object per request, over WinINet.
//
//   Varnu::CHttpClient client;                 // CHttpClientT<CHttpToolA, CHttpEncoderA>
//   client.SetUseUtf8(TRUE);
//   client.AddParam("a", "getVersionConfig");
//   client.StartFormPost(url, flags);
//   std::unique_ptr<Varnu::CHttpResponse> response;
//   while (!(response = client.ContinuePost())) {}
//   ... response->ReadContent(buffer, size) until it returns 0
//
// Every failure is an httpclientexceptionA (see HttpException.h). Every operation that
// opened handles closes them before its exception leaves, request first, then
// connection, then internet handle, and the client stays usable.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "http/CheckedArithmetic.h"
#include "http/HttpClientMap.h"
#include "http/HttpEncoder.h"
#include "http/HttpException.h"
#include "http/HttpHandle.h"
#include "http/HttpPostStat.h"
#include "http/HttpResponse.h"
#include "http/HttpText.h"
#include "http/HttpTool.h"
#include "http/HttpUrlAnalyzer.h"
#include "http/MultipartBoundary.h"

namespace Varnu {

constexpr char kDefaultUserAgent[] = "Varnu HTTP Client Class";

template <class HttpTool, class HttpEncoder>
class CHttpClientT {
public:
    using CHttpResponse = CHttpResponseT<HttpTool>;
    using CHttpClientMap = CHttpClientMapT<HttpTool>;
    using CHttpPostStat = CHttpPostStatT<HttpTool>;
    using Handle = unique_hinternet<HttpTool>;

    // Never fails: without a GUID the multipart boundary just stays null.
    CHttpClientT() noexcept
    {
        MultipartBoundary boundary = MakeMultipartBoundary();
        m_szBoundary = std::move(boundary.szBoundary);
        m_szUploadContType = std::move(boundary.szContentType);
    }
    CHttpClientT(const CHttpClientT&) = delete;
    CHttpClientT& operator=(const CHttpClientT&) = delete;

    // An active POST is abandoned: its request, connection and internet handles are
    // closed in that order.
    virtual ~CHttpClientT()
    {
        AbandonPost();
        m_objPostStat._Clear();
        m_mapParam.Clear();
        m_mapHeader.Clear();
    }

    // Names and values are sent as the UTF-8 form of their ANSI text. Refused while a
    // POST is active.
    void SetUseUtf8(BOOL bUseUtf8)
    {
        if (m_objPostStat.IsActive())
            HttpTool::RaiseMessage(
                "CHttpClientT::SetUseUtf8: It is not allowed to call this method if the POST context is active.");
        m_bUseUtf8 = bUseUtf8;
    }
    BOOL GetUseUtf8() const noexcept { return m_bUseUtf8; }
    UINT GetAnsiCodePage() const noexcept { return m_nAnsiCodePage; }

    // A form or query parameter (a null value is sent as "name="). Refused while a
    // POST is active.
    void AddParam(LPCSTR szName, LPCSTR szValue = nullptr)
    {
        if (m_objPostStat.IsActive())
            HttpTool::RaiseMessage(
                "CHttpClientT::AddParam: It is not allowed to call this method if the POST context is active.");
        m_mapParam.Add(szName, szValue);
    }

    // An extra request header, sent with every later request of this client in name order.
    void AddHeader(LPCSTR szName, LPCSTR szValue = nullptr) { m_mapHeader.Add(szName, szValue); }

    // InternetOpen settings; a null agent means "Varnu HTTP Client Class".
    void SetInternetSettings(LPCSTR szUserAgent, DWORD dwAccessType, LPCSTR szProxyName, LPCSTR szProxyBypass,
                             DWORD dwFlags)
    {
        OwnedText userAgent = CopyText(szUserAgent);
        OwnedText proxyName = CopyText(szProxyName);
        OwnedText proxyBypass = CopyText(szProxyBypass);
        m_szUserAgent = std::move(userAgent);
        m_dwAccessType = dwAccessType;
        m_szProxyName = std::move(proxyName);
        m_szProxyBypass = std::move(proxyBypass);
        m_dwInternetFlags = dwFlags;
    }

    // Account for an authenticating proxy; used only when both texts are non-empty.
    void SetProxyAccount(LPCSTR szUserName, LPCSTR szPassword)
    {
        OwnedText userName = CopyText(szUserName);
        OwnedText password = CopyText(szPassword);
        m_szProxyUserName = std::move(userName);
        m_szProxyPassword = std::move(password);
    }

    // The multipart/form-data boundary of this client (the fixed fallback when no GUID
    // could be had) and its content type (null then). This client sends form POSTs
    // and GETs only; no multipart upload is ever started.
    LPCSTR GetBoundary() const noexcept { return m_szBoundary ? m_szBoundary.get() : kFallbackMultipartBoundary; }
    LPCSTR GetUploadContType() const noexcept { return m_szUploadContType.get(); }

    // Progress of the active POST; IsActive() tells whether one runs.
    const CHttpPostStat& GetPostStat() const noexcept { return m_objPostStat; }

    // Sends a GET for szUrl (extended by the parameters as a query, if there are any)
    // and returns the response. An active POST is abandoned first.
    std::unique_ptr<CHttpResponse> SendGet(LPCSTR szUrl, DWORD dwFlags)
    {
        AbandonPost();

        Handle hInternet;
        Handle hConnection;
        Handle hRequest;
        try {
            hInternet = _OpenInternet();
            hConnection = OpenConnection(hInternet.get(), szUrl);

            OwnedText getUrl;
            if (!m_mapParam.Empty()) {
                getUrl = AllocateText(MakeGetUrlLen(szUrl));
                MakeGetUrl(getUrl.get(), szUrl);
            }
            hRequest = OpenRequest(hConnection.get(), "GET", getUrl ? getUrl.get() : szUrl, dwFlags);
            AddRequestHeader(hRequest.get());
            getUrl.reset();

            HttpTool::SendRequest(hRequest.get());
            return _NewResponse(hInternet, hConnection, hRequest);
        } catch (const httpclientexceptionA&) {
            CloseRequestHandles(hRequest, hConnection, hInternet);
            throw;
        } catch (...) {
            CloseRequestHandles(hRequest, hConnection, hInternet);
            HttpTool::RaiseError(HttpErr::Unexpected);
        }
    }

    // Starts the streamed application/x-www-form-urlencoded POST of every parameter
    // to szUrl; ContinuePost then sends it. An active POST is abandoned first.
    void StartFormPost(LPCSTR szUrl, DWORD dwFlags)
    {
        AbandonPost();

        DWORD cbDeclared = 0;
        DWORD cbValues = 0;
        const DWORD cParams = m_mapParam.Count();
        for (DWORD i = 0; i < cParams; ++i) {
            const DWORD cchName = HttpEncoder::UrlEncodeLenUtf8(m_mapParam.GetKey(i), m_bUseUtf8, m_nAnsiCodePage);
            const DWORD cchValue = HttpEncoder::UrlEncodeLenUtf8(m_mapParam.GetValue(i), m_bUseUtf8, m_nAnsiCodePage);
            // name "=" value, and "&" before every parameter but the first
            cbDeclared = CheckedAdd(cbDeclared, CheckedAdd(CheckedAdd(cchName, cchValue), 2));
            cbValues = CheckedAdd(cbValues, cchValue);
        }
        if (cbDeclared != 0)
            cbDeclared = CheckedSub(cbDeclared, 1);

        Handle hInternet;
        Handle hConnection;
        Handle hRequest;
        try {
            hInternet = _OpenInternet();
            hConnection = OpenConnection(hInternet.get(), szUrl);
            hRequest = OpenRequest(hConnection.get(), "POST", szUrl, dwFlags);
            AddRequestHeader(hRequest.get());
            HttpTool::AddHeader(hRequest.get(), "Content-Type", "application/x-www-form-urlencoded");
            HttpTool::SendRequestEx(hRequest.get(), cbDeclared);
        } catch (...) {
            CloseRequestHandles(hRequest, hConnection, hInternet);
            throw;
        }

        m_objPostStat._MakeActive(cbDeclared, cbValues, cParams, 0);
        m_hInternet = std::move(hInternet);
        m_hConnection = std::move(hConnection);
        m_hRequest = std::move(hRequest);
    }

    // One step of the active POST: a separator-name-"=" group or at most 1024 value
    // bytes. Returns null until the body is complete, then the response; the client
    // is idle again afterwards. A failing step abandons the POST (handles closed).
    std::unique_ptr<CHttpResponse> ContinuePost() { return _ProceedPostContext(); }

    // Closes the handles of an active POST (request, connection, internet handle) and
    // makes the client idle. Does nothing when no POST is active.
    void AbandonPost() noexcept
    {
        if (!m_objPostStat.IsActive())
            return;
        Handle hInternet;
        Handle hConnection;
        Handle hRequest;
        _TakePostHandles(hInternet, hConnection, hRequest);
        CloseRequestHandles(hRequest, hConnection, hInternet);
    }

    // Length of MakeGetUrl's output without terminator.
    DWORD MakeGetUrlLen(LPCSTR szUrl) const
    {
        if (m_mapParam.Empty())
            return TextLength(szUrl);

        CHttpUrlAnalyzerT url;
        url.Analyze(szUrl, m_nAnsiCodePage);
        DWORD cchOut = CheckedAdd(url.PathStart(), url.PathLength() == 0 ? 1 : 0);
        cchOut = CheckedAdd(cchOut, CheckedSub(url.FragmentStart(), url.PathStart()));
        cchOut = CheckedAdd(cchOut, 1);  // "&" or "?"
        for (DWORD i = 0; i < m_mapParam.Count(); ++i) {
            if (i != 0)
                cchOut = CheckedAdd(cchOut, 1);
            cchOut = CheckedAdd(cchOut, HttpEncoder::UrlEncodeLenUtf8(m_mapParam.GetKey(i), m_bUseUtf8, m_nAnsiCodePage));
            cchOut = CheckedAdd(cchOut, 1);
            cchOut = CheckedAdd(cchOut, HttpEncoder::UrlEncodeLenUtf8(m_mapParam.GetValue(i), m_bUseUtf8, m_nAnsiCodePage));
        }
        return CheckedAdd(cchOut, url.FragmentLength());
    }

    // szUrl with the parameters appended to its query, before any fragment. szBuff
    // holds MakeGetUrlLen(szUrl) + 1 bytes. Returns szBuff.
    LPSTR MakeGetUrl(LPSTR szBuff, LPCSTR szUrl) const
    {
        if (!szBuff)
            HttpTool::RaiseMessage("CHttpClientT::MakeGetUrl: szBuff can not be NULL.");
        char* pchOut = szBuff;
        if (m_mapParam.Empty()) {
            const DWORD cchUrl = TextLength(szUrl);
            pchOut = Append(pchOut, szUrl, cchUrl);
            *pchOut = '\0';
            return szBuff;
        }

        CHttpUrlAnalyzerT url;
        url.Analyze(szUrl, m_nAnsiCodePage);
        pchOut = Append(pchOut, szUrl, url.PathStart());
        if (url.PathLength() == 0)
            *pchOut++ = '/';
        pchOut = Append(pchOut, szUrl + url.PathStart(), url.FragmentStart() - url.PathStart());
        *pchOut++ = url.QueryLength() != 0 ? '&' : '?';
        for (DWORD i = 0; i < m_mapParam.Count(); ++i) {
            if (i != 0)
                *pchOut++ = '&';
            HttpEncoder::UrlEncodeA(pchOut, m_mapParam.GetKey(i), m_bUseUtf8, m_nAnsiCodePage);
            pchOut += TextLength(pchOut);
            *pchOut++ = '=';
            HttpEncoder::UrlEncodeA(pchOut, m_mapParam.GetValue(i), m_bUseUtf8, m_nAnsiCodePage);
            pchOut += TextLength(pchOut);
        }
        pchOut = Append(pchOut, szUrl + url.FragmentStart(), url.FragmentLength());
        *pchOut = '\0';
        return szBuff;
    }

protected:
    // A connection to the host and port of szUrl: port 80, 443 for https, or the one
    // the URL names (up to 5 digits, at most 65535, else 107). No host is 103.
    Handle OpenConnection(HINTERNET hInternet, LPCSTR szUrl)
    {
        if (!hInternet)
            HttpTool::RaiseMessage("CHttpClientT::OpenConnection: hInternet can not be NULL.");

        CHttpUrlAnalyzerT url;
        url.Analyze(szUrl, m_nAnsiCodePage);
        INTERNET_PORT nPort = CHttpUrlAnalyzerT::IsSecure(szUrl, url) ? INTERNET_DEFAULT_HTTPS_PORT
                                                                      : INTERNET_DEFAULT_HTTP_PORT;
        if (url.PortLength() != 0)
            nPort = ParsePort(szUrl + url.PortStart(), url.PortLength());
        if (url.HostLength() == 0)
            HttpTool::RaiseError(HttpErr::InvalidUrl);
        OwnedText host = CopyText(szUrl + url.HostStart(), url.HostLength());

        Handle hConnection(HttpTool::OpenConnection(hInternet, host.get(), nPort));
        ApplyProxyAccount(hConnection.get());  // on failure hConnection closes itself
        return hConnection;
    }

    // A request for the object of szUrl (path, query and fragment; "/" when the URL
    // ends at the host). https adds INTERNET_FLAG_SECURE; INTERNET_FLAG_PRAGMA_NOCACHE
    // adds "Cache-Control: no-cache". Certificate checks are never relaxed.
    Handle OpenRequest(HINTERNET hConnection, LPCSTR szVerb, LPCSTR szUrl, DWORD dwFlags)
    {
        if (!hConnection)
            HttpTool::RaiseMessage("CHttpClientT::OpenRequest: hConnection can not be NULL.");

        CHttpUrlAnalyzerT url;
        url.Analyze(szUrl, m_nAnsiCodePage);
        if (CHttpUrlAnalyzerT::IsSecure(szUrl, url))
            dwFlags |= INTERNET_FLAG_SECURE;

        OwnedText builtObject;
        LPCSTR szObject = "/";
        if (url.PathLength() != 0) {
            szObject = szUrl + url.PathStart();
        } else if (szUrl && szUrl[url.PathStart()] != '\0') {
            // A query or fragment right after the host still needs the root path.
            const LPCSTR szRest = szUrl + url.PathStart();
            const DWORD cchRest = TextLength(szRest);
            builtObject = AllocateText(CheckedAdd(cchRest, 1));
            builtObject[0] = '/';
            Append(builtObject.get() + 1, szRest, cchRest);
            szObject = builtObject.get();
        }

        Handle hRequest(HttpTool::OpenRequest(hConnection, szVerb, szObject, dwFlags));
        if (dwFlags & INTERNET_FLAG_PRAGMA_NOCACHE)
            HttpTool::AddHeader(hRequest.get(), "Cache-Control", "no-cache");
        return hRequest;
    }

    // Every extra header, in map order.
    void AddRequestHeader(HINTERNET hRequest)
    {
        if (!hRequest)
            HttpTool::RaiseMessage("CHttpClientT::AddRequestHeader: hRequest can not be NULL.");
        for (DWORD i = 0; i < m_mapHeader.Count(); ++i)
            HttpTool::AddHeader(hRequest, m_mapHeader.GetKey(i), m_mapHeader.GetValue(i));
    }

    // Proxy user name then password on the connection, when both are set and non-empty.
    void ApplyProxyAccount(HINTERNET hConnection)
    {
        if (!hConnection)
            HttpTool::RaiseMessage("CHttpClientT::ApplyProxyAccount: hConnection can not be NULL.");
        if (!m_szProxyUserName || !m_szProxyPassword || !m_szProxyUserName[0] || !m_szProxyPassword[0])
            return;
        HttpTool::SetOption(hConnection, INTERNET_OPTION_PROXY_USERNAME, m_szProxyUserName.get(),
                            TextLength(m_szProxyUserName.get()));
        HttpTool::SetOption(hConnection, INTERNET_OPTION_PROXY_PASSWORD, m_szProxyPassword.get(),
                            TextLength(m_szProxyPassword.get()));
    }

    // Hands the active POST's handles to the caller and makes the client idle.
    void _ReleasePostResponse(Handle& hInternet, Handle& hConnection, Handle& hRequest)
    {
        if (!m_objPostStat.IsActive())
            HttpTool::RaiseMessage("CHttpClientT::_ReleasePostResponse: The post context is not active.");
        _TakePostHandles(hInternet, hConnection, hRequest);
    }

    std::unique_ptr<CHttpResponse> _ProceedPostContext()
    {
        if (!m_objPostStat.IsActive())
            HttpTool::RaiseError(HttpErr::PostNotStarted);
        if (!m_hInternet)
            HttpTool::RaiseMessage("CHttpClientT::_ProceedPostContext: m_hInternet can not be NULL.");
        if (!m_hConnection)
            HttpTool::RaiseMessage("CHttpClientT::_ProceedPostContext: m_hConnection can not be NULL.");
        if (!m_hRequest)
            HttpTool::RaiseMessage("CHttpClientT::_ProceedPostContext: m_hRequest can not be NULL.");

        try {
            if (!m_objPostStat.CurrParamIsComplete()) {
                const DWORD cbBlock = (std::min)(kPostBlockSize, m_objPostStat.CurrParamRemainByte());
                const BYTE* pbyBlock =
                    reinterpret_cast<const BYTE*>(m_pszCurrValue) + m_objPostStat.CurrParamPostedByte();
                HttpTool::InternetWriteFile(m_hRequest.get(), pbyBlock, cbBlock);
                m_objPostStat._TestAddPostedBytes(cbBlock);
                m_objPostStat._TestAddActualPostedBytes(cbBlock);
                return nullptr;
            }

            const DWORD nIndex = m_objPostStat.PostedCount();
            if (nIndex < m_objPostStat.TotalCount()) {
                _StartParam(nIndex);
                return nullptr;
            }

            HttpTool::EndRequest(m_hRequest.get());
            Handle hInternet;
            Handle hConnection;
            Handle hRequest;
            _ReleasePostResponse(hInternet, hConnection, hRequest);
            return _NewResponse(hInternet, hConnection, hRequest);
        } catch (...) {
            AbandonPost();
            throw;
        }
    }

    // Writes a text into the POST body and counts it; null or empty writes nothing.
    void _WritePost(LPCSTR szText)
    {
        if (!m_hRequest)
            HttpTool::RaiseMessage("CHttpClientT::_WritePost: m_hRequest can not be NULL.");
        const DWORD cchText = TextLength(szText);
        if (cchText == 0)
            return;
        // Refuse before writing: bytes on the wire that the counters cannot hold would
        // break the match between declared and written length.
        CheckedAdd(m_objPostStat.ActualPostedByte(), cchText);
        HttpTool::InternetWriteFile(m_hRequest.get(), reinterpret_cast<const BYTE*>(szText), cchText);
        m_objPostStat._TestAddActualPostedBytes(cchText);
    }

private:
    static constexpr DWORD kPostBlockSize = 1024;
    static constexpr DWORD kMaxPortDigits = 5;

    static char* Append(char* pchOut, LPCSTR pchText, DWORD cchText) noexcept
    {
        for (DWORD i = 0; i < cchText; ++i)
            *pchOut++ = pchText[i];
        return pchOut;
    }

    static INTERNET_PORT ParsePort(LPCSTR pchPort, DWORD cchPort)
    {
        if (cchPort > kMaxPortDigits)
            HttpTool::RaiseError(HttpErr::InvalidPort);
        DWORD nPort = 0;
        for (DWORD i = 0; i < cchPort; ++i) {
            if (pchPort[i] < '0' || pchPort[i] > '9')
                HttpTool::RaiseError(HttpErr::InvalidPort);
            nPort = nPort * 10 + static_cast<DWORD>(pchPort[i] - '0');
        }
        if (nPort > 65535)
            HttpTool::RaiseError(HttpErr::InvalidPort);
        return static_cast<INTERNET_PORT>(nPort);
    }

    Handle _OpenInternet()
    {
        return Handle(HttpTool::OpenInternet(m_szUserAgent ? m_szUserAgent.get() : kDefaultUserAgent,
                                             m_dwAccessType, m_szProxyName.get(), m_szProxyBypass.get(),
                                             m_dwInternetFlags));
    }

    // The handles move into a new response; when it cannot be allocated they are
    // closed and the failure is 102.
    static std::unique_ptr<CHttpResponse> _NewResponse(Handle& hInternet, Handle& hConnection, Handle& hRequest)
    {
        std::unique_ptr<CHttpResponse> response(new (std::nothrow) CHttpResponse(
            std::move(hInternet), std::move(hConnection), std::move(hRequest)));
        if (!response) {
            CloseRequestHandles(hRequest, hConnection, hInternet);
            HttpTool::RaiseError(HttpErr::OutOfMemory);
        }
        return response;
    }

    // Moves the POST handles out, frees the current value and clears the statistics.
    void _TakePostHandles(Handle& hInternet, Handle& hConnection, Handle& hRequest) noexcept
    {
        hInternet = std::move(m_hInternet);
        hConnection = std::move(m_hConnection);
        hRequest = std::move(m_hRequest);
        m_pszCurrValue = nullptr;
        m_szOwnedCurrValue.reset();
        m_objPostStat._Clear();
    }

    // "&" (but before the first), the encoded name, "=", and the encoded value made
    // current for the following steps.
    void _StartParam(DWORD nIndex)
    {
        if (nIndex != 0)
            _WritePost("&");

        LPCSTR szName = m_mapParam.GetKey(nIndex);
        {
            OwnedText name = AllocateText(HttpEncoder::UrlEncodeLenUtf8(szName, m_bUseUtf8, m_nAnsiCodePage));
            HttpEncoder::UrlEncodeA(name.get(), szName, m_bUseUtf8, m_nAnsiCodePage);
            _WritePost(name.get());
        }
        _WritePost("=");

        LPCSTR szValue = m_mapParam.GetValue(nIndex);
        OwnedText value;
        DWORD cchValue = 0;
        if (szValue) {
            cchValue = HttpEncoder::UrlEncodeLenUtf8(szValue, m_bUseUtf8, m_nAnsiCodePage);
            value = AllocateText(cchValue);
            HttpEncoder::UrlEncodeA(value.get(), szValue, m_bUseUtf8, m_nAnsiCodePage);
        }
        m_objPostStat._TestStartNewEntry(szName, cchValue);
        m_szOwnedCurrValue = std::move(value);
        m_pszCurrValue = m_szOwnedCurrValue.get();
    }

    OwnedText m_szBoundary;
    OwnedText m_szUploadContType;
    BOOL m_bUseUtf8 = FALSE;
    UINT m_nAnsiCodePage = CP_ACP;

    CHttpClientMap m_mapHeader;
    CHttpClientMap m_mapParam;

    OwnedText m_szUserAgent;
    DWORD m_dwAccessType = INTERNET_OPEN_TYPE_PRECONFIG;
    OwnedText m_szProxyName;
    OwnedText m_szProxyBypass;
    DWORD m_dwInternetFlags = 0;
    OwnedText m_szProxyUserName;
    OwnedText m_szProxyPassword;

    CHttpPostStat m_objPostStat;

    // The active POST. The current value is the encoded value being sent, owned here.
    LPCSTR m_pszCurrValue = nullptr;
    OwnedText m_szOwnedCurrValue;
    Handle m_hInternet;
    Handle m_hConnection;
    Handle m_hRequest;
};

using CHttpClient = CHttpClientT<CHttpToolA, CHttpEncoderA>;
using CHttpResponse = CHttpResponseT<CHttpToolA>;

}  // namespace Varnu
