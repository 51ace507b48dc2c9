#include "http/HttpUrlAnalyzer.h"

#include <cstddef>

#include "http/CheckedArithmetic.h"
#include "http/HttpException.h"

namespace Varnu {

namespace {

// Bytes of the character at szText[i]: 2 for a lead byte followed by anything but the
// terminator, else 1.
size_t charLength(LPCSTR szText, size_t i, UINT CodePage) noexcept
{
    const BYTE byte = static_cast<BYTE>(szText[i]);
    if (IsDBCSLeadByteEx(CodePage, byte) && szText[i + 1] != '\0')
        return 2;
    return 1;
}

}  // namespace

void CHttpUrlAnalyzerT::Analyze(LPCSTR szUrl, UINT CodePage)
{
    if (CodePage == CP_UTF8 || CodePage == CP_UTF7)
        RaiseHttpMessage("CHttpUrlAnalyzerT::Analyze: CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter.");

    *this = CHttpUrlAnalyzerT();
    if (!szUrl || szUrl[0] == '\0')
        return;

    // Offsets are walked as size_t and narrowed, checked, once at the end.
    size_t schemeLength = 0;
    size_t hostStart = 0;
    for (size_t i = 0; szUrl[i] != '\0'; i += charLength(szUrl, i, CodePage)) {
        if (szUrl[i] == ':' && szUrl[i + 1] == '/' && szUrl[i + 2] == '/') {
            schemeLength = i;
            hostStart = i + 3;
            break;
        }
    }

    size_t hostLength = 0;
    size_t portStart = 0;
    size_t portLength = 0;
    size_t i = hostStart;
    if (szUrl[i] != '/') {
        bool colonSeen = false;
        while (szUrl[i] != '\0' && szUrl[i] != '?' && szUrl[i] != '#') {
            if (szUrl[i] == ':' && !colonSeen) {
                colonSeen = true;
                portStart = i + 1;
                ++i;
            } else {
                const size_t cb = charLength(szUrl, i, CodePage);
                (colonSeen ? portLength : hostLength) += cb;
                i += cb;
            }
            if (szUrl[i] == '/')
                break;
        }
        if (!colonSeen)
            portStart = i;
    } else {
        portStart = i;
    }
    const size_t pathStart = i;

    size_t pathLength = 0;
    size_t queryStart = 0;
    size_t queryLength = 0;
    if (szUrl[i] != '#') {
        bool querySeen = false;
        while (szUrl[i] != '\0' && szUrl[i] != '#') {
            if (szUrl[i] == '?' && !querySeen) {
                querySeen = true;
                queryStart = i;
                queryLength = 1;
                ++i;
            } else {
                const size_t cb = charLength(szUrl, i, CodePage);
                (querySeen ? queryLength : pathLength) += cb;
                i += cb;
            }
        }
        if (!querySeen)
            queryStart = i;
    } else {
        queryStart = i;
    }
    const size_t fragmentStart = i;
    size_t fragmentLength = 0;
    while (szUrl[fragmentStart + fragmentLength] != '\0')
        ++fragmentLength;

    CHttpUrlAnalyzerT result;
    result.m_dwSchemeLength = CheckedNarrow(schemeLength);
    result.m_dwHostStart = CheckedNarrow(hostStart);
    result.m_dwHostLength = CheckedNarrow(hostLength);
    result.m_dwPortStart = CheckedNarrow(portStart);
    result.m_dwPortLength = CheckedNarrow(portLength);
    result.m_dwPathStart = CheckedNarrow(pathStart);
    result.m_dwPathLength = CheckedNarrow(pathLength);
    result.m_dwQueryStart = CheckedNarrow(queryStart);
    result.m_dwQueryLength = CheckedNarrow(queryLength);
    result.m_dwFragmentStart = CheckedNarrow(fragmentStart);
    result.m_dwFragmentLength = CheckedNarrow(fragmentLength);
    *this = result;
}

BOOL CHttpUrlAnalyzerT::IsSecure(LPCSTR szUrl, const CHttpUrlAnalyzerT& analyzed) noexcept
{
    if (!szUrl || analyzed.SchemeLength() != 5)
        return FALSE;
    static const char kHttps[] = "https";
    for (DWORD i = 0; i < 5; ++i) {
        char c = szUrl[analyzed.SchemeStart() + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != kHttps[i])
            return FALSE;
    }
    return TRUE;
}

}  // namespace Varnu
