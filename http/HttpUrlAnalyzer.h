// Splits a URL into scheme, host, port, path, query and fragment without copying it.
#pragma once

#include <windows.h>

namespace Varnu {

// All results are byte offsets and lengths into the analysed text, 0 before analysis.
// The query counts its leading "?", the fragment its leading "#". A lead byte of the
// code page always belongs to the character it starts, so the trail byte of a
// double-byte character is never taken for a delimiter; a lead byte right before the
// terminator stands alone, and nothing past the terminator is read.
class CHttpUrlAnalyzerT {
public:
    CHttpUrlAnalyzerT() noexcept = default;

    // Refuses CP_UTF8 and CP_UTF7, which have no lead bytes to test. A null or empty
    // URL leaves every number 0.
    void Analyze(LPCSTR szUrl, UINT CodePage = CP_ACP);

    DWORD SchemeStart() const noexcept { return m_dwSchemeStart; }
    DWORD SchemeLength() const noexcept { return m_dwSchemeLength; }
    DWORD HostStart() const noexcept { return m_dwHostStart; }
    DWORD HostLength() const noexcept { return m_dwHostLength; }
    DWORD PortStart() const noexcept { return m_dwPortStart; }
    DWORD PortLength() const noexcept { return m_dwPortLength; }
    DWORD PathStart() const noexcept { return m_dwPathStart; }
    DWORD PathLength() const noexcept { return m_dwPathLength; }
    DWORD QueryStart() const noexcept { return m_dwQueryStart; }
    DWORD QueryLength() const noexcept { return m_dwQueryLength; }
    DWORD FragmentStart() const noexcept { return m_dwFragmentStart; }
    DWORD FragmentLength() const noexcept { return m_dwFragmentLength; }

    // The scheme is "https" in any letter case.
    static BOOL IsSecure(LPCSTR szUrl, const CHttpUrlAnalyzerT& analyzed) noexcept;

private:
    DWORD m_dwSchemeStart = 0;
    DWORD m_dwSchemeLength = 0;
    DWORD m_dwHostStart = 0;
    DWORD m_dwHostLength = 0;
    DWORD m_dwPortStart = 0;
    DWORD m_dwPortLength = 0;
    DWORD m_dwPathStart = 0;
    DWORD m_dwPathLength = 0;
    DWORD m_dwQueryStart = 0;
    DWORD m_dwQueryLength = 0;
    DWORD m_dwFragmentStart = 0;
    DWORD m_dwFragmentLength = 0;
};

}  // namespace Varnu
