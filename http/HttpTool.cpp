#include "http/HttpTool.h"

#include <cstring>

#include "http/CheckedArithmetic.h"
#include "http/HttpText.h"

namespace Varnu {

HINTERNET CHttpToolA::OpenInternet(LPCSTR szUserAgent, DWORD dwAccessType, LPCSTR szProxyName,
                                   LPCSTR szProxyBypass, DWORD dwFlags)
{
    HINTERNET hInternet = ::InternetOpenA(szUserAgent, dwAccessType, szProxyName, szProxyBypass, dwFlags);
    if (!hInternet)
        RaiseWin32Error(HttpErr::OpenInternet, GetLastError());
    return hInternet;
}

HINTERNET CHttpToolA::OpenConnection(HINTERNET hInternet, LPCSTR szServerAddr, INTERNET_PORT nPort)
{
    if (!hInternet)
        RaiseMessage("CHttpToolA::OpenConnection: hInternet can not be NULL.");
    if (!szServerAddr)
        RaiseMessage("CHttpToolA::OpenConnection: szServerAddr can not be NULL.");
    if (szServerAddr[0] == '\0')
        RaiseMessage("CHttpToolA::OpenConnection: szServerAddr can not be an empty string.");

    HINTERNET hConnection = ::InternetConnectA(hInternet, szServerAddr, nPort, nullptr, nullptr,
                                               INTERNET_SERVICE_HTTP, 0, 0);
    if (!hConnection)
        RaiseWin32Error(HttpErr::Connect, GetLastError());
    return hConnection;
}

HINTERNET CHttpToolA::OpenRequest(HINTERNET hConnection, LPCSTR szVerb, LPCSTR szObjectName, DWORD dwFlags)
{
    if (!hConnection)
        RaiseMessage("CHttpToolA::OpenRequest: hConnection can not be NULL.");
    if (!szObjectName)
        RaiseMessage("CHttpToolA::OpenRequest: szObjectName can not be NULL.");
    if (szObjectName[0] == '\0')
        RaiseMessage("CHttpToolA::OpenRequest: szObjectName can not be an empty string.");

    LPCSTR acceptTypes[] = {"*/*", nullptr};
    // NB: dwFlags go through unchanged: never add INTERNET_FLAG_IGNORE_CERT_CN_INVALID,
    // INTERNET_FLAG_IGNORE_CERT_DATE_INVALID or SECURITY_FLAG_IGNORE_* here - they turn
    // off the TLS checks that keep a forged gateway from handing out packages.
    HINTERNET hRequest = ::HttpOpenRequestA(hConnection, szVerb, szObjectName, "HTTP/1.1", nullptr,
                                            acceptTypes, dwFlags, 0);
    if (!hRequest)
        RaiseWin32Error(HttpErr::OpenRequest, GetLastError());
    return hRequest;
}

void CHttpToolA::AddHeader(HINTERNET hRequest, LPCSTR szName, LPCSTR szValue)
{
    if (!hRequest)
        RaiseMessage("CHttpToolA::AddHeader: hRequest can not be NULL.");
    if (!szName)
        RaiseMessage("CHttpToolA::AddHeader: szName can not be NULL.");

    static const char kSeparator[] = ": ";
    static const char kLineEnd[] = "\r\n";
    const DWORD cchName = TextLength(szName);
    const DWORD cchValue = TextLength(szValue);
    const DWORD cchHeader =
        CheckedAdd(CheckedAdd(CheckedAdd(cchName, sizeof(kSeparator) - 1), cchValue), sizeof(kLineEnd) - 1);

    OwnedText header = AllocateText(cchHeader);
    char* pch = header.get();
    std::memcpy(pch, szName, cchName);
    pch += cchName;
    std::memcpy(pch, kSeparator, sizeof(kSeparator) - 1);
    pch += sizeof(kSeparator) - 1;
    if (cchValue != 0)
        std::memcpy(pch, szValue, cchValue);
    pch += cchValue;
    std::memcpy(pch, kLineEnd, sizeof(kLineEnd) - 1);

    if (!::HttpAddRequestHeadersA(hRequest, header.get(), cchHeader, HTTP_ADDREQ_FLAG_ADD))
        RaiseWin32Error(HttpErr::AddHeaders, GetLastError());
}

void CHttpToolA::SendRequest(HINTERNET hRequest)
{
    if (!hRequest)
        RaiseMessage("CHttpToolA::SendRequest: hRequest can not be NULL.");
    if (!::HttpSendRequestA(hRequest, nullptr, 0, nullptr, 0))
        RaiseWin32Error(HttpErr::SendRequest, GetLastError());
}

// The 32-bit program hands WinINet the 40-byte structure it was written against.
static_assert(sizeof(void*) != 4 || sizeof(INTERNET_BUFFERSA) == 40, "INTERNET_BUFFERSA layout");

void CHttpToolA::SendRequestEx(HINTERNET hRequest, DWORD cbTotal)
{
    if (!hRequest)
        RaiseMessage("CHttpToolA::SendRequestEx: hRequest can not be NULL.");

    // WinINet takes the Content-Length from dwBufferTotal; everything else stays empty.
    INTERNET_BUFFERSA buffers = {};
    buffers.dwStructSize = sizeof(buffers);
    buffers.dwBufferTotal = cbTotal;
    if (!::HttpSendRequestExA(hRequest, &buffers, nullptr, 0, 0))
        RaiseWin32Error(HttpErr::SendRequestEx, GetLastError());
}

void CHttpToolA::InternetWriteFile(HINTERNET hRequest, const BYTE* pbyBuff, DWORD cbyBuff)
{
    if (!hRequest)
        RaiseMessage("CHttpToolA::InternetWriteFile: hRequest can not be NULL.");
    if (!pbyBuff)
        RaiseMessage("CHttpToolA::InternetWriteFile: pbyBuff can not be NULL.");
    if (cbyBuff == 0)
        RaiseMessage("CHttpToolA::InternetWriteFile: cbyBuff can not be zero.");

    DWORD cbWritten = 0;
    while (cbWritten < cbyBuff) {
        DWORD cbThisTime = 0;
        if (!::InternetWriteFile(hRequest, pbyBuff + cbWritten, cbyBuff - cbWritten, &cbThisTime))
            RaiseWin32Error(HttpErr::WriteFile, GetLastError());
        // A call that succeeds without taking a byte would make this loop spin forever.
        if (cbThisTime == 0)
            RaiseWin32Error(HttpErr::WriteFile, GetLastError());
        cbWritten = CheckedAdd(cbWritten, cbThisTime);
    }
}

void CHttpToolA::EndRequest(HINTERNET hRequest)
{
    if (!hRequest)
        RaiseMessage("CHttpToolA::EndRequest: hRequest can not be NULL.");
    if (!::HttpEndRequestW(hRequest, nullptr, 0, 0))
        RaiseWin32Error(HttpErr::EndRequest, GetLastError());
}

void CHttpToolA::SetOption(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength)
{
    if (!::InternetSetOptionA(hInternet, dwOption, lpBuffer, dwBufferLength))
        RaiseWin32Error(HttpErr::SetOption, GetLastError());
}

BOOL CHttpToolA::QueryContentLength(HINTERNET hRequest, DWORD& cbContentLength)
{
    DWORD cbValue = 0;
    DWORD cbBuffer = sizeof(cbValue);
    if (!::HttpQueryInfoW(hRequest, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &cbValue, &cbBuffer,
                          nullptr)) {
        const DWORD dwError = GetLastError();
        if (dwError == ERROR_HTTP_HEADER_NOT_FOUND)
            return FALSE;
        RaiseWin32Error(HttpErr::QueryInfo, dwError);
    }
    cbContentLength = cbValue;
    return TRUE;
}

DWORD CHttpToolA::InternetReadFile(HINTERNET hRequest, BYTE* pbyBuff, DWORD cbBuff)
{
    DWORD cbRead = 0;
    if (!::InternetReadFile(hRequest, pbyBuff, cbBuff, &cbRead))
        RaiseWin32Error(HttpErr::ReadFile, GetLastError());
    return cbRead;
}

void CHttpToolA::CloseHandle(HINTERNET hInternet) noexcept
{
    if (hInternet)
        ::InternetCloseHandle(hInternet);
}

}  // namespace Varnu
