// URL analysis on arbitrary bytes in each code page the analyzer meets. The URL sits
// in a buffer that ends at its terminator, so any read past it is an ASan report.
// The parts are checked against what the analyzer promises, with the character
// boundaries worked out here independently.
#include "http/HttpException.h"
#include "http/HttpUrlAnalyzer.h"

#include "FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

using Varnu::CHttpUrlAnalyzerT;

namespace {

constexpr UINT kCodePages[] = {CP_ACP, 1252, 936, 932, 949, 950, CP_UTF8, CP_UTF7};

// true at every offset where a character starts, and at the terminator.
std::vector<bool> characterStarts(const char* url, size_t length, UINT codePage)
{
    std::vector<bool> starts(length + 1, false);
    size_t i = 0;
    while (i < length) {
        starts[i] = true;
        const bool lead = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(url[i])) != FALSE;
        i += lead && i + 1 < length ? 2 : 1;
    }
    starts[length] = true;
    return starts;
}

// No character in [start, start + length) begins with one of `delimiters`.
bool noDelimiterIn(const char* url, const std::vector<bool>& starts, size_t start, size_t length,
                   const char* delimiters)
{
    for (size_t i = start; i < start + length; ++i) {
        if (starts[i] && std::strchr(delimiters, url[i]))
            return false;
    }
    return true;
}

bool sameParts(const CHttpUrlAnalyzerT& a, const CHttpUrlAnalyzerT& b)
{
    return a.SchemeStart() == b.SchemeStart() && a.SchemeLength() == b.SchemeLength() &&
           a.HostStart() == b.HostStart() && a.HostLength() == b.HostLength() &&
           a.PortStart() == b.PortStart() && a.PortLength() == b.PortLength() &&
           a.PathStart() == b.PathStart() && a.PathLength() == b.PathLength() &&
           a.QueryStart() == b.QueryStart() && a.QueryLength() == b.QueryLength() &&
           a.FragmentStart() == b.FragmentStart() && a.FragmentLength() == b.FragmentLength();
}

void checkParts(const char* url, size_t n, UINT codePage, const CHttpUrlAnalyzerT& a)
{
    if (n == 0) {
        FUZZ_CHECK(sameParts(a, CHttpUrlAnalyzerT()));
        return;
    }
    const std::vector<bool> starts = characterStarts(url, n, codePage);

    // The scheme ends at the first "://" that starts a character.
    size_t firstSeparator = n;
    for (size_t i = 0; i + 2 < n; ++i) {
        if (starts[i] && url[i] == ':' && url[i + 1] == '/' && url[i + 2] == '/') {
            firstSeparator = i;
            break;
        }
    }
    FUZZ_CHECK(a.SchemeStart() == 0);
    if (firstSeparator < n) {
        FUZZ_CHECK(a.SchemeLength() == firstSeparator);
        FUZZ_CHECK(a.HostStart() == firstSeparator + 3);
    } else {
        FUZZ_CHECK(a.SchemeLength() == 0);
        FUZZ_CHECK(a.HostStart() == 0);
    }

    // The parts follow each other without gaps and end at the terminator.
    const size_t hostEnd = size_t{a.HostStart()} + a.HostLength();
    FUZZ_CHECK(hostEnd <= n);
    if (a.PortStart() != hostEnd) {
        FUZZ_CHECK(a.PortStart() == hostEnd + 1);
        FUZZ_CHECK(url[hostEnd] == ':');
    }
    FUZZ_CHECK(a.PathStart() == size_t{a.PortStart()} + a.PortLength());
    FUZZ_CHECK(a.QueryStart() == size_t{a.PathStart()} + a.PathLength());
    FUZZ_CHECK(a.FragmentStart() == size_t{a.QueryStart()} + a.QueryLength());
    FUZZ_CHECK(size_t{a.FragmentStart()} + a.FragmentLength() == n);

    // Every part starts on a character, never on a trail byte.
    for (DWORD start : {a.HostStart(), a.PortStart(), a.PathStart(), a.QueryStart(), a.FragmentStart()})
        FUZZ_CHECK(starts[start]);

    // Each part holds no delimiter that would have ended it.
    FUZZ_CHECK(noDelimiterIn(url, starts, a.HostStart(), a.HostLength(), ":/?#"));
    FUZZ_CHECK(noDelimiterIn(url, starts, a.PortStart(), a.PortLength(), "/?#"));
    FUZZ_CHECK(a.PathLength() == 0 || url[a.PathStart()] == '/');
    FUZZ_CHECK(noDelimiterIn(url, starts, a.PathStart(), a.PathLength(), "?#"));
    FUZZ_CHECK(a.QueryLength() == 0 || url[a.QueryStart()] == '?');
    FUZZ_CHECK(noDelimiterIn(url, starts, a.QueryStart(), a.QueryLength(), "#"));
    FUZZ_CHECK(a.FragmentLength() == 0 || url[a.FragmentStart()] == '#');
    // What ends the path is a query, a fragment or the end; what ends the query, a
    // fragment or the end.
    const char afterPath = url[a.QueryStart()];
    FUZZ_CHECK(afterPath == '?' || afterPath == '#' || afterPath == '\0');
    const char afterQuery = url[a.FragmentStart()];
    FUZZ_CHECK(afterQuery == '#' || afterQuery == '\0');

    bool https = a.SchemeLength() == 5;
    for (size_t i = 0; https && i < 5; ++i)
        https = url[i] == "https"[i] || url[i] == "HTTPS"[i];
    FUZZ_CHECK((CHttpUrlAnalyzerT::IsSecure(url, a) != FALSE) == https);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const UINT codePage = kCodePages[data[0] % (sizeof(kCodePages) / sizeof(kCodePages[0]))];
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const size_t n = strnlen(bytes, size - 1);
    // Exactly the URL and its terminator: the analyzer may read nothing beyond.
    const std::unique_ptr<char[]> url(new char[n + 1]);
    std::memcpy(url.get(), bytes, n);
    url[n] = '\0';

    CHttpUrlAnalyzerT fresh;
    CHttpUrlAnalyzerT reused;
    reused.Analyze("HTTPS://user:1/p?q#f", 1252);
    try {
        fresh.Analyze(url.get(), codePage);
    } catch (const Varnu::httpclientexceptionA& e) {
        // Only the code pages without lead bytes are refused, and nothing else is.
        FUZZ_CHECK(codePage == CP_UTF8 || codePage == CP_UTF7);
        FUZZ_CHECK(e.ErrorCode() == Varnu::HttpErr::NotSpecified);
        return 0;
    }
    FUZZ_CHECK(codePage != CP_UTF8 && codePage != CP_UTF7);
    checkParts(url.get(), n, codePage, fresh);

    // A second analysis forgets the first.
    reused.Analyze(url.get(), codePage);
    FUZZ_CHECK(sameParts(fresh, reused));
    return 0;
}
