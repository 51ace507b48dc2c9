// Thin, argument-checked wrappers of the WinINet calls the HTTP client makes. The
// client templates call WinINet only through this class, so a test can put a tool of
// its own in its place (derive, and hide the statics it wants to watch).
#pragma once

#include <windows.h>
#include <wininet.h>

#include "http/HttpException.h"

namespace Varnu {

class CHttpToolA {
public:
    // InternetOpenA. Failure: 402.
    static HINTERNET OpenInternet(LPCSTR szUserAgent, DWORD dwAccessType, LPCSTR szProxyName,
                                  LPCSTR szProxyBypass, DWORD dwFlags);
    // InternetConnectA for HTTP, without user or password. Failure: 403.
    static HINTERNET OpenConnection(HINTERNET hInternet, LPCSTR szServerAddr, INTERNET_PORT nPort);
    // HttpOpenRequestA, HTTP/1.1, no referrer, accepting "*/*". Failure: 404.
    static HINTERNET OpenRequest(HINTERNET hConnection, LPCSTR szVerb, LPCSTR szObjectName, DWORD dwFlags);
    // Adds "szName: szValue\r\n" (a null value is empty). Failure: 405.
    static void AddHeader(HINTERNET hRequest, LPCSTR szName, LPCSTR szValue);
    // HttpSendRequestA without extra headers or body. Failure: 406.
    static void SendRequest(HINTERNET hRequest);
    // HttpSendRequestExA announcing a body of cbTotal bytes. Failure: 407.
    static void SendRequestEx(HINTERNET hRequest, DWORD cbTotal);
    // Writes all cbyBuff bytes, in as many calls as WinINet needs. Failure: 408.
    static void InternetWriteFile(HINTERNET hRequest, const BYTE* pbyBuff, DWORD cbyBuff);
    // HttpEndRequestW. Failure: 409.
    static void EndRequest(HINTERNET hRequest);
    // InternetSetOptionA. Failure: 410.
    static void SetOption(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength);
    // The Content-Length header as a number; FALSE (cbContentLength untouched) when
    // the response has none. Other failures: 400.
    static BOOL QueryContentLength(HINTERNET hRequest, DWORD& cbContentLength);
    // One InternetReadFile; returns the bytes read, 0 at the end of the body. Failure: 401.
    static DWORD InternetReadFile(HINTERNET hRequest, BYTE* pbyBuff, DWORD cbBuff);
    // InternetCloseHandle of a set handle.
    static void CloseHandle(HINTERNET hInternet) noexcept;

    // How the client templates fail; see HttpException.h.
    [[noreturn]] static void RaiseError(DWORD nErrorCode) { RaiseHttpError(nErrorCode); }
    [[noreturn]] static void RaiseWin32Error(DWORD nErrorCode, DWORD dwLastError, LPCSTR szArg = nullptr)
    {
        RaiseHttpError(nErrorCode, dwLastError, szArg);
    }
    [[noreturn]] static void RaiseMessage(LPCSTR szErrMsg) { RaiseHttpMessage(szErrMsg); }
    [[noreturn]] static void RaiseStdException(const std::exception& e) { RaiseHttpStdException(e); }
};

}  // namespace Varnu
