// The one exception family of the HTTP client, its error codes and their messages.
#pragma once

#include <windows.h>

#include <exception>
#include <memory>

namespace Varnu {

// Error codes carried by httpclientexceptionA. Codes without a message row of their
// own (200-399, for example) read "Not specified".
namespace HttpErr {
enum : DWORD {
    NotSpecified = 0,

    Unexpected = 100,
    IndexOutOfRange = 101,
    OutOfMemory = 102,
    InvalidUrl = 103,
    PostNotStarted = 104,
    FileReadShort = 105,
    PostNotFinished = 106,
    InvalidPort = 107,
    StdException = 108,
    InvalidEncodedUrl = 109,
    InvalidUtf8Char = 110,
    Arithmetic = 111,
    ArithmeticOverflow = 112,
    DivideByZero = 113,
    FileExists = 114,

    QueryInfo = 400,
    ReadFile = 401,
    OpenInternet = 402,
    Connect = 403,
    OpenRequest = 404,
    AddHeaders = 405,
    SendRequest = 406,
    SendRequestEx = 407,
    WriteFile = 408,
    EndRequest = 409,
    SetOption = 410,

    ToMultiByte = 600,
    ToWideChar = 601,
    FileRead = 602,
    FileOpen = 603,
    FileSeek = 604,
    FileSize = 605,
    FileWrite = 606,

    UserDefined = 1000,
};
}

// The message of an error code; never null. Codes 1000 and above are the caller's own.
LPCSTR HttpErrorMessage(DWORD nErrorCode) noexcept;

// std::exception with an owned copy of its message text (or none).
class errmsg_exceptionA : public std::exception {
public:
    errmsg_exceptionA() noexcept = default;
    explicit errmsg_exceptionA(LPCSTR szErrMsg) noexcept;
    errmsg_exceptionA(const errmsg_exceptionA& other) noexcept;
    errmsg_exceptionA& operator=(const errmsg_exceptionA& other) noexcept;
    ~errmsg_exceptionA() override;

    const char* what() const noexcept override;
    // The message, or the literal "NULL" when there is none.
    virtual LPCSTR Message() const noexcept;
    // Stores a copy of szErrMsg; null (or a copy that cannot be allocated) leaves no message.
    virtual void SetMessage(LPCSTR szErrMsg) noexcept;

private:
    std::unique_ptr<char[]> m_szErrMsg;
};

class httpclientexceptionA : public errmsg_exceptionA {
public:
    explicit httpclientexceptionA(LPCSTR szErrMsg = nullptr, DWORD nErrorCode = HttpErr::NotSpecified,
                                  DWORD dwLastError = 0) noexcept;

    DWORD ErrorCode() const noexcept { return m_nErrorCode; }
    // GetLastError() of the failing platform call; 0 when no platform call failed.
    DWORD Win32Error() const noexcept { return m_dwLastError; }

private:
    DWORD m_nErrorCode;
    DWORD m_dwLastError;
};

// The three ways the library fails. Each throws httpclientexceptionA.
// By code: the code's message, Win32 error 0.
[[noreturn]] void RaiseHttpError(DWORD nErrorCode);
// By code and Win32 error. With szArg the message is the code's text used as a printf
// format with that one string, cut at 511 characters.
[[noreturn]] void RaiseHttpError(DWORD nErrorCode, DWORD dwLastError, LPCSTR szArg = nullptr);
// Argument and state checks: the given text, code 0, Win32 error 0.
[[noreturn]] void RaiseHttpMessage(LPCSTR szErrMsg);
// A standard exception from container code: code 108 with that exception's own text.
[[noreturn]] void RaiseHttpStdException(const std::exception& e);

}  // namespace Varnu
