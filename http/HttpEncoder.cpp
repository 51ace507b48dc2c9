#include "http/HttpEncoder.h"

#include <cstring>

#include "http/CheckedArithmetic.h"
#include "http/HttpException.h"

namespace Varnu {

namespace {

// One ANSI character of one or two bytes converts to at most two UTF-16 units and at
// most four UTF-8 bytes.
constexpr int kWideBuffer = 2;
constexpr int kUtf8Buffer = 7;

int charLength(LPCSTR szText, UINT CodePage) noexcept
{
    if (IsDBCSLeadByteEx(CodePage, static_cast<BYTE>(szText[0])) && szText[1] != '\0')
        return 2;
    return 1;
}

bool keptAsIs(BYTE byte) noexcept
{
    return (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

DWORD encodedLength(const BYTE* pbyText, size_t cbText)
{
    DWORD cchOut = 0;
    for (size_t i = 0; i < cbText; ++i)
        cchOut = CheckedAdd(cchOut, (pbyText[i] == ' ' || keptAsIs(pbyText[i])) ? 1 : 3);
    return cchOut;
}

char* encodeBytes(char* pchOut, const BYTE* pbyText, size_t cbText) noexcept
{
    static const char kHex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < cbText; ++i) {
        const BYTE byte = pbyText[i];
        if (byte == ' ') {
            *pchOut++ = '+';
        } else if (keptAsIs(byte)) {
            *pchOut++ = static_cast<char>(byte);
        } else {
            *pchOut++ = '%';
            *pchOut++ = kHex[byte >> 4];
            *pchOut++ = kHex[byte & 0x0F];
        }
    }
    return pchOut;
}

// The UTF-8 bytes of the character of cchChar bytes at pchChar; returns their count.
int toUtf8(LPCSTR pchChar, int cchChar, UINT CodePage, char (&utf8)[kUtf8Buffer])
{
    WCHAR wide[kWideBuffer] = {};
    // Only the character itself is converted: counting the terminator in would let a
    // code page that pairs a lead byte with it swallow the terminator.
    const int cchWide = MultiByteToWideChar(CodePage, 0, pchChar, cchChar, wide, kWideBuffer);
    if (cchWide <= 0)
        RaiseHttpError(HttpErr::ToWideChar, GetLastError());
    const int cbUtf8 = WideCharToMultiByte(CP_UTF8, 0, wide, cchWide, utf8, kUtf8Buffer, nullptr, nullptr);
    if (cbUtf8 <= 0)
        RaiseHttpError(HttpErr::ToMultiByte, GetLastError());
    return cbUtf8;
}

// Calls onChar(bytes, count) with the UTF-8 bytes of every character of szStr.
template <class OnChar>
void forEachUtf8Char(LPCSTR szStr, UINT CodePage, OnChar onChar)
{
    char utf8[kUtf8Buffer];
    for (LPCSTR pch = szStr; *pch != '\0';) {
        const int cchChar = charLength(pch, CodePage);
        const int cbUtf8 = toUtf8(pch, cchChar, CodePage, utf8);
        onChar(reinterpret_cast<const BYTE*>(utf8), static_cast<size_t>(cbUtf8));
        pch += cchChar;
    }
}

}  // namespace

DWORD CHttpEncoderA::_UrlEncodeLen(LPCSTR szStr)
{
    if (!szStr)
        RaiseHttpMessage("_UrlEncodeLen: szStr can not be NULL.");
    return encodedLength(reinterpret_cast<const BYTE*>(szStr), std::strlen(szStr));
}

DWORD CHttpEncoderA::UrlEncodeLenUtf8(LPCSTR szStr, BOOL bUtf8Encoding, UINT CodePage)
{
    if (!szStr || szStr[0] == '\0')
        return 0;
    if (!bUtf8Encoding)
        return _UrlEncodeLen(szStr);

    DWORD cchOut = 0;
    forEachUtf8Char(szStr, CodePage, [&cchOut](const BYTE* pbyUtf8, size_t cbUtf8) {
        cchOut = CheckedAdd(cchOut, encodedLength(pbyUtf8, cbUtf8));
    });
    return cchOut;
}

LPSTR CHttpEncoderA::UrlEncodeA(LPSTR szBuff, LPCSTR szStr, BOOL bUtf8Encoding, UINT CodePage)
{
    if (!szBuff)
        RaiseHttpMessage("CHttpEncoderA::UrlEncodeA: szBuff can not be NULL.");
    char* pchOut = szBuff;
    if (szStr && szStr[0] != '\0') {
        if (bUtf8Encoding) {
            forEachUtf8Char(szStr, CodePage, [&pchOut](const BYTE* pbyUtf8, size_t cbUtf8) {
                pchOut = encodeBytes(pchOut, pbyUtf8, cbUtf8);
            });
        } else {
            pchOut = encodeBytes(pchOut, reinterpret_cast<const BYTE*>(szStr), std::strlen(szStr));
        }
    }
    *pchOut = '\0';
    return szBuff;
}

DWORD CHttpEncoderA::Utf8EncodeLen(LPCSTR szStr, UINT CodePage)
{
    if (!szStr)
        return 0;
    DWORD cbOut = 0;
    forEachUtf8Char(szStr, CodePage, [&cbOut](const BYTE*, size_t cbUtf8) {
        cbOut = CheckedAdd(cbOut, static_cast<DWORD>(cbUtf8));
    });
    return cbOut;
}

LPSTR CHttpEncoderA::Utf8Encode(LPSTR szBuff, LPCSTR szStr, UINT CodePage)
{
    if (!szBuff)
        RaiseHttpMessage("CHttpEncoderA::Utf8Encode: szBuff can not be NULL.");
    char* pchOut = szBuff;
    if (szStr) {
        forEachUtf8Char(szStr, CodePage, [&pchOut](const BYTE* pbyUtf8, size_t cbUtf8) {
            std::memcpy(pchOut, pbyUtf8, cbUtf8);
            pchOut += cbUtf8;
        });
    }
    *pchOut = '\0';
    return szBuff;
}

}  // namespace Varnu
