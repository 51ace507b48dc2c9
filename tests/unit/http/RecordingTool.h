// A tool class for the HTTP client templates that records every WinINet call instead
// of making it, hands out fake handles, and fails one chosen call on demand. It shows
// what real WinINet hides: flags, header texts, write sizes and the closing order.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "http/HttpClient.h"

struct RecordingTool : Varnu::CHttpToolA {
    struct State {
        std::vector<std::string> calls;  // one line per call, in order
        std::vector<DWORD> writes;       // size of every InternetWriteFile
        std::string body;                // every byte written
        std::string failOn;              // the call to fail, e.g. "SendRequestEx"
        DWORD failError = 0;             // Win32 error of that failure
        bool hasContentLength = true;
        DWORD contentLength = 0;
        std::string content;             // what InternetReadFile delivers
        size_t contentOffset = 0;
        std::map<HINTERNET, std::string> handleNames;
        ULONG_PTR nextHandle = 0x1000;
    };
    static State state;

    static void Reset() { state = State(); }

    // The "Close ..." lines, in order.
    static std::vector<std::string> Closes()
    {
        std::vector<std::string> closes;
        for (const std::string& call : state.calls) {
            if (call.rfind("Close ", 0) == 0)
                closes.push_back(call);
        }
        return closes;
    }

    static HINTERNET OpenInternet(LPCSTR szUserAgent, DWORD dwAccessType, LPCSTR szProxyName, LPCSTR szProxyBypass,
                                  DWORD dwFlags)
    {
        Record("OpenInternet " + Text(szUserAgent) + " access=" + std::to_string(dwAccessType) + " proxy=" +
               Text(szProxyName) + " bypass=" + Text(szProxyBypass) + " flags=" + Hex(dwFlags));
        FailIfChosen("OpenInternet", Varnu::HttpErr::OpenInternet);
        return NewHandle("internet");
    }

    static HINTERNET OpenConnection(HINTERNET hInternet, LPCSTR szServerAddr, INTERNET_PORT nPort)
    {
        Record("OpenConnection " + Name(hInternet) + " " + Text(szServerAddr) + ":" + std::to_string(nPort));
        FailIfChosen("OpenConnection", Varnu::HttpErr::Connect);
        return NewHandle("connection");
    }

    static HINTERNET OpenRequest(HINTERNET hConnection, LPCSTR szVerb, LPCSTR szObjectName, DWORD dwFlags)
    {
        Record("OpenRequest " + Name(hConnection) + " " + Text(szVerb) + " " + Text(szObjectName) + " flags=" +
               Hex(dwFlags));
        FailIfChosen("OpenRequest", Varnu::HttpErr::OpenRequest);
        return NewHandle("request");
    }

    static void AddHeader(HINTERNET hRequest, LPCSTR szName, LPCSTR szValue)
    {
        Record("AddHeader " + Name(hRequest) + " " + Text(szName) + ": " + Text(szValue));
        FailIfChosen("AddHeader", Varnu::HttpErr::AddHeaders);
    }

    static void SendRequest(HINTERNET hRequest)
    {
        Record("SendRequest " + Name(hRequest));
        FailIfChosen("SendRequest", Varnu::HttpErr::SendRequest);
    }

    static void SendRequestEx(HINTERNET hRequest, DWORD cbTotal)
    {
        Record("SendRequestEx " + Name(hRequest) + " " + std::to_string(cbTotal));
        FailIfChosen("SendRequestEx", Varnu::HttpErr::SendRequestEx);
    }

    static void InternetWriteFile(HINTERNET hRequest, const BYTE* pbyBuff, DWORD cbyBuff)
    {
        Record("Write " + Name(hRequest) + " " + std::to_string(cbyBuff));
        FailIfChosen("Write", Varnu::HttpErr::WriteFile);
        state.writes.push_back(cbyBuff);
        state.body.append(reinterpret_cast<const char*>(pbyBuff), cbyBuff);
    }

    static void EndRequest(HINTERNET hRequest)
    {
        Record("EndRequest " + Name(hRequest));
        FailIfChosen("EndRequest", Varnu::HttpErr::EndRequest);
    }

    static void SetOption(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength)
    {
        Record("SetOption " + Name(hInternet) + " " + std::to_string(dwOption) + " " +
               Text(static_cast<LPCSTR>(lpBuffer)) + " " + std::to_string(dwBufferLength));
        FailIfChosen("SetOption", Varnu::HttpErr::SetOption);
    }

    static BOOL QueryContentLength(HINTERNET hRequest, DWORD& cbContentLength)
    {
        Record("QueryContentLength " + Name(hRequest));
        if (!state.hasContentLength)
            return FALSE;
        cbContentLength = state.contentLength;
        return TRUE;
    }

    static DWORD InternetReadFile(HINTERNET hRequest, BYTE* pbyBuff, DWORD cbBuff)
    {
        Record("Read " + Name(hRequest) + " " + std::to_string(cbBuff));
        FailIfChosen("Read", Varnu::HttpErr::ReadFile);
        const size_t cbLeft = state.content.size() - state.contentOffset;
        const DWORD cbRead = static_cast<DWORD>(cbLeft < cbBuff ? cbLeft : cbBuff);
        state.content.copy(reinterpret_cast<char*>(pbyBuff), cbRead, state.contentOffset);
        state.contentOffset += cbRead;
        return cbRead;
    }

    static void CloseHandle(HINTERNET hInternet) noexcept
    {
        if (hInternet)
            state.calls.push_back("Close " + Name(hInternet));
    }

private:
    static void Record(const std::string& call) { state.calls.push_back(call); }

    static void FailIfChosen(const char* szCall, DWORD nErrorCode)
    {
        if (state.failOn == szCall)
            RaiseWin32Error(nErrorCode, state.failError);
    }

    static HINTERNET NewHandle(const std::string& kind)
    {
        HINTERNET handle = reinterpret_cast<HINTERNET>(state.nextHandle++);
        state.handleNames[handle] = kind;
        return handle;
    }

    static std::string Name(HINTERNET handle)
    {
        const auto found = state.handleNames.find(handle);
        return found == state.handleNames.end() ? std::string("unknown") : found->second;
    }

    static std::string Text(LPCSTR szText) { return szText ? szText : "(null)"; }

    static std::string Hex(DWORD value)
    {
        char text[16];
        std::snprintf(text, sizeof(text), "0x%08lx", static_cast<unsigned long>(value));
        return text;
    }
};

inline RecordingTool::State RecordingTool::state;

using RecordingClient = Varnu::CHttpClientT<RecordingTool, Varnu::CHttpEncoderA>;
using RecordingResponse = Varnu::CHttpResponseT<RecordingTool>;

// Expects fn to throw httpclientexceptionA with this code, Win32 error and message.
template <class Fn>
void ExpectHttpError(Fn&& fn, DWORD nCode, DWORD dwWin32, const std::string& message)
{
    try {
        fn();
        ADD_FAILURE() << "no exception; expected code " << nCode << " \"" << message << "\"";
    } catch (const Varnu::httpclientexceptionA& e) {
        EXPECT_EQ(e.ErrorCode(), nCode) << message;
        EXPECT_EQ(e.Win32Error(), dwWin32) << message;
        EXPECT_EQ(std::string(e.Message()), message);
    }
}
