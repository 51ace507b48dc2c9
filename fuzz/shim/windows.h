// The few Windows types, constants and calls that the host-built parsers use, so
// their product sources compile for Linux unchanged. Not a general replacement:
// anything that reaches for more fails to compile, which is the point.
#pragma once

#include <cstdint>

using BYTE = unsigned char;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using BOOL = int;
using LPCSTR = const char*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define CP_ACP 0U
#define CP_UTF7 65000U
#define CP_UTF8 65001U

// The ANSI code page the host build stands in for: the launcher runs on Chinese
// systems (936), where a trail byte may be any of the URL delimiters' neighbours.
inline constexpr UINT kShimAnsiCodePage = 936;

// Lead-byte ranges of the double-byte code pages, as their tables define them;
// every other code page has none.
inline BOOL IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar)
{
    if (CodePage == CP_ACP)
        CodePage = kShimAnsiCodePage;
    switch (CodePage) {
    case 932:  // Shift-JIS
        return (TestChar >= 0x81 && TestChar <= 0x9F) || (TestChar >= 0xE0 && TestChar <= 0xFC);
    case 936:  // GBK
    case 949:  // Unified Hangul
    case 950:  // Big5
        return TestChar >= 0x81 && TestChar <= 0xFE;
    default:
        return FALSE;
    }
}
