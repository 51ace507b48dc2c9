#include "http/HttpException.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace Varnu {

namespace {

struct MessageRow {
    DWORD nRow;
    LPCSTR szMessage;
};

// One table per code range; a code's row is the code modulo 100.
constexpr MessageRow kMessages0To99[] = {
    {0, "Not specified"},
};

constexpr MessageRow kMessages100To199[] = {
    {0, "Unexpected error occurred."},
    {1, "The index is out of range."},
    {2, "Out of memory."},
    {3, "The requested URL is not a valid URL."},
    {4, "The post context is not started yet."},
    {5, "Couldn't read expected bytes from a file."},
    {6, "The post context has not been finished yet."},
    {7, "The port number is not valid."},
    {8, "std::exception occurred."},
    {9, "The encoded URL is not valid."},
    {10, "The UTF8 string contains an invalid character."},
    {11, "An unexpected arithmetic error has been occurred."},
    {12, "An arithmetic overflow error has been occurred."},
    {13, "An interger divide by zero exception has been occurred."},
    {14, "The file (%s) aleady exists."},
};

constexpr MessageRow kMessages400To599[] = {
    {0, "::HttpQueryInfo failed."},
    {1, "::InternetReadFile failed."},
    {2, "::InternetOpen failed."},
    {3, "::InternetConnect failed."},
    {4, "::HttpOpenRequest failed."},
    {5, "::HttpAddRequestHeaders failed."},
    {6, "::HttpSendRequest failed."},
    {7, "::HttpSendRequestEx failed."},
    {8, "::InternetWriteFile failed."},
    {9, "::HttpEndRequest failed."},
    {10, "::InternetSetOption failed."},
};

constexpr MessageRow kMessages600To999[] = {
    {0, "::WideCharToMultiByte failed."},
    {1, "::MultiByteToWideChar failed."},
    {2, "::ReadFile failed."},
    {3, "OpenFile (::CreateFile) failed (\"%s\")."},
    {4, "::SetFilePointer failed."},
    {5, "::GetFileSize failed (\"%s\")."},
    {6, "::WriteFile failed (\"%s\")."},
};

template <size_t N>
LPCSTR findRow(const MessageRow (&table)[N], DWORD nRow) noexcept
{
    for (const MessageRow& row : table) {
        if (row.nRow == nRow)
            return row.szMessage;
    }
    return nullptr;
}

std::unique_ptr<char[]> copyText(LPCSTR szText) noexcept
{
    if (!szText)
        return nullptr;
    const size_t cchText = std::strlen(szText);
    std::unique_ptr<char[]> copy(new (std::nothrow) char[cchText + 1]);
    if (copy)
        std::memcpy(copy.get(), szText, cchText + 1);
    return copy;
}

}  // namespace

LPCSTR HttpErrorMessage(DWORD nErrorCode) noexcept
{
    if (nErrorCode >= HttpErr::UserDefined)
        return "user-defined error message";

    const DWORD nRow = nErrorCode % 100;
    LPCSTR szMessage = nullptr;
    if (nErrorCode < 100)
        szMessage = findRow(kMessages0To99, nRow);
    else if (nErrorCode < 200)
        szMessage = findRow(kMessages100To199, nRow);
    else if (nErrorCode < 400)
        szMessage = nullptr;  // the 200-399 table has no rows
    else if (nErrorCode < 600)
        szMessage = findRow(kMessages400To599, nRow);
    else
        szMessage = findRow(kMessages600To999, nRow);
    return szMessage ? szMessage : kMessages0To99[0].szMessage;
}

errmsg_exceptionA::errmsg_exceptionA(LPCSTR szErrMsg) noexcept : m_szErrMsg(copyText(szErrMsg)) {}

errmsg_exceptionA::errmsg_exceptionA(const errmsg_exceptionA& other) noexcept
    : std::exception(other), m_szErrMsg(copyText(other.m_szErrMsg.get()))
{
}

errmsg_exceptionA& errmsg_exceptionA::operator=(const errmsg_exceptionA& other) noexcept
{
    std::exception::operator=(other);
    // Copy before release: other may be *this.
    m_szErrMsg = copyText(other.m_szErrMsg.get());
    return *this;
}

errmsg_exceptionA::~errmsg_exceptionA() = default;

const char* errmsg_exceptionA::what() const noexcept
{
    return Message();
}

LPCSTR errmsg_exceptionA::Message() const noexcept
{
    return m_szErrMsg ? m_szErrMsg.get() : "NULL";
}

void errmsg_exceptionA::SetMessage(LPCSTR szErrMsg) noexcept
{
    m_szErrMsg = copyText(szErrMsg);
}

httpclientexceptionA::httpclientexceptionA(LPCSTR szErrMsg, DWORD nErrorCode, DWORD dwLastError) noexcept
    : errmsg_exceptionA(szErrMsg), m_nErrorCode(nErrorCode), m_dwLastError(dwLastError)
{
}

void RaiseHttpError(DWORD nErrorCode)
{
    throw httpclientexceptionA(HttpErrorMessage(nErrorCode), nErrorCode, 0);
}

void RaiseHttpError(DWORD nErrorCode, DWORD dwLastError, LPCSTR szArg)
{
    LPCSTR szFormat = HttpErrorMessage(nErrorCode);
    if (!szArg)
        throw httpclientexceptionA(szFormat, nErrorCode, dwLastError);

    // snprintf never writes past the buffer: longer output is cut to 511 characters.
    char szMessage[512];
    const int cchWritten = std::snprintf(szMessage, sizeof(szMessage), szFormat, szArg);
    throw httpclientexceptionA(cchWritten < 0 ? szFormat : szMessage, nErrorCode, dwLastError);
}

void RaiseHttpMessage(LPCSTR szErrMsg)
{
    throw httpclientexceptionA(szErrMsg, HttpErr::NotSpecified, 0);
}

void RaiseHttpStdException(const std::exception& e)
{
    throw httpclientexceptionA(e.what(), HttpErr::StdException, 0);
}

}  // namespace Varnu
