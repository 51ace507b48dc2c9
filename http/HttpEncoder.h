// Text encoders of the HTTP client: URL encoding of form and query parts, optionally
// of the UTF-8 form of an ANSI text, and plain ANSI to UTF-8.
#pragma once

#include <windows.h>

namespace Varnu {

// Texts are walked character by character in the given ANSI code page: a lead byte
// and the byte after it are one character, except a lead byte right before the
// terminator, which stands alone. Nothing past the terminator is read.
//
// URL encoding keeps 0-9, A-Z and a-z, turns the space into "+" and every other byte
// into "%XX" (upper-case hex). In UTF-8 mode each character is converted to UTF-8
// first (failures: 601 to UTF-16, 600 to UTF-8, with the Win32 error).
class CHttpEncoderA {
public:
    // Output length of URL-encoding szStr byte by byte, without terminator. Refuses null.
    static DWORD _UrlEncodeLen(LPCSTR szStr);
    // Output length of UrlEncodeA; a null or empty text gives 0.
    static DWORD UrlEncodeLenUtf8(LPCSTR szStr, BOOL bUtf8Encoding, UINT CodePage);
    // Writes the encoding and a terminator into szBuff, which holds
    // UrlEncodeLenUtf8(szStr, ...) + 1 bytes. Refuses a null szBuff. Returns szBuff.
    static LPSTR UrlEncodeA(LPSTR szBuff, LPCSTR szStr, BOOL bUtf8Encoding, UINT CodePage);

    // UTF-8 length of an ANSI text, without terminator; null or empty gives 0.
    static DWORD Utf8EncodeLen(LPCSTR szStr, UINT CodePage);
    // Writes the UTF-8 form and a terminator into szBuff (Utf8EncodeLen + 1 bytes).
    static LPSTR Utf8Encode(LPSTR szBuff, LPCSTR szStr, UINT CodePage);
};

}  // namespace Varnu
