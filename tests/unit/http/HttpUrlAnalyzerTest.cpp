#include <gtest/gtest.h>

#include <string>

#include "http/HttpUrlAnalyzer.h"
#include "RecordingTool.h"

using Varnu::CHttpUrlAnalyzerT;

namespace {

constexpr UINT kNoLeadBytes = 1252;
constexpr UINT kGbk = 936;

struct Parts {
    DWORD schemeStart, schemeLength, hostStart, hostLength, portStart, portLength;
    DWORD pathStart, pathLength, queryStart, queryLength, fragmentStart, fragmentLength;
};

struct UrlCase {
    std::string url;  // may hold bytes after an embedded terminator
    UINT codePage;
    Parts parts;
};

Parts Analyzed(const std::string& url, UINT codePage)
{
    CHttpUrlAnalyzerT analyzer;
    analyzer.Analyze(url.c_str(), codePage);
    return {analyzer.SchemeStart(), analyzer.SchemeLength(), analyzer.HostStart(), analyzer.HostLength(),
            analyzer.PortStart(), analyzer.PortLength(), analyzer.PathStart(), analyzer.PathLength(),
            analyzer.QueryStart(), analyzer.QueryLength(), analyzer.FragmentStart(), analyzer.FragmentLength()};
}

std::string Show(const Parts& p)
{
    char text[160];
    std::snprintf(text, sizeof(text), "scheme %lu+%lu host %lu+%lu port %lu+%lu path %lu+%lu query %lu+%lu fragment %lu+%lu",
                  p.schemeStart, p.schemeLength, p.hostStart, p.hostLength, p.portStart, p.portLength, p.pathStart,
                  p.pathLength, p.queryStart, p.queryLength, p.fragmentStart, p.fragmentLength);
    return text;
}

}  // namespace

// Every part's offset and length, for the edge cases of scheme, host, port, path,
// query and fragment, and for code page 936 lead bytes that swallow a delimiter.
TEST(HttpUrlAnalyzer, SplitsUrlsIntoTheirParts)
{
    const UrlCase cases[] = {
        {"http://host/path?q=1#frag", kNoLeadBytes, {0, 4, 7, 4, 11, 0, 11, 5, 16, 4, 20, 5}},
        {"https://host:8443/p", kNoLeadBytes, {0, 5, 8, 4, 13, 4, 17, 2, 19, 0, 19, 0}},
        // no "://": the host starts at the first byte
        {"host:81/path", kNoLeadBytes, {0, 0, 0, 4, 5, 2, 7, 5, 12, 0, 12, 0}},
        {"://host/", kNoLeadBytes, {0, 0, 3, 4, 7, 0, 7, 1, 8, 0, 8, 0}},
        // "/" right after "://": no host
        {"http:///path", kNoLeadBytes, {0, 4, 7, 0, 7, 0, 7, 5, 12, 0, 12, 0}},
        {"http://host", kNoLeadBytes, {0, 4, 7, 4, 11, 0, 11, 0, 11, 0, 11, 0}},
        {"http://", kNoLeadBytes, {0, 4, 7, 0, 7, 0, 7, 0, 7, 0, 7, 0}},
        // query or fragment right after the host
        {"http://host?x=1", kNoLeadBytes, {0, 4, 7, 4, 11, 0, 11, 0, 11, 4, 15, 0}},
        {"http://host#f", kNoLeadBytes, {0, 4, 7, 4, 11, 0, 11, 0, 11, 0, 11, 2}},
        {"http://host:?x", kNoLeadBytes, {0, 4, 7, 4, 12, 0, 12, 0, 12, 2, 14, 0}},
        // an empty port, and a second colon that belongs to the port
        {"http://host:/p", kNoLeadBytes, {0, 4, 7, 4, 12, 0, 12, 2, 14, 0, 14, 0}},
        {"http://h:1:2/p", kNoLeadBytes, {0, 4, 7, 1, 9, 3, 12, 2, 14, 0, 14, 0}},
        // only the first "?" starts the query, only the first "#" the fragment
        {"http://host/a?b?c#d#e", kNoLeadBytes, {0, 4, 7, 4, 11, 0, 11, 2, 13, 4, 17, 4}},
        // a scheme is a ":" followed by "//", anywhere
        {"a/b://c", kNoLeadBytes, {0, 3, 6, 1, 7, 0, 7, 0, 7, 0, 7, 0}},
        {"", kNoLeadBytes, {}},

        // 0x81 is a lead byte in 936 only: there it takes the ":" with it
        {"http://a\x81:81/", kGbk, {0, 4, 7, 5, 12, 0, 12, 1, 13, 0, 13, 0}},
        {"http://a\x81:81/", kNoLeadBytes, {0, 4, 7, 2, 10, 2, 12, 1, 13, 0, 13, 0}},
        // ... the "?" of a query
        {"http://h/p\x81?q", kGbk, {0, 4, 7, 1, 8, 0, 8, 5, 13, 0, 13, 0}},
        {"http://h/p\x81?q", kNoLeadBytes, {0, 4, 7, 1, 8, 0, 8, 3, 11, 2, 13, 0}},
        // ... the "#" of a fragment
        {"http://h/p\x81#f", kGbk, {0, 4, 7, 1, 8, 0, 8, 5, 13, 0, 13, 0}},
        // ... and the ":" of a scheme, so there is none and the host starts at 0
        {"ht\x81://x/", kGbk, {0, 0, 0, 4, 4, 0, 4, 4, 8, 0, 8, 0}},
        // a lead byte right before the terminator stands alone: nothing after the
        // terminator ("?x#y") is read
        {std::string("http://h/\x81\0?x#y", 14), kGbk, {0, 4, 7, 1, 8, 0, 8, 2, 10, 0, 10, 0}},
        {std::string("http://h\x81\0:1/", 13), kGbk, {0, 4, 7, 2, 9, 0, 9, 0, 9, 0, 9, 0}},
        {std::string("h\x81\0://x", 8), kGbk, {0, 0, 0, 2, 2, 0, 2, 0, 2, 0, 2, 0}},
    };

    for (const UrlCase& c : cases) {
        const Parts expected = c.parts;
        EXPECT_EQ(Show(Analyzed(c.url, c.codePage)), Show(expected)) << c.url.c_str() << " cp " << c.codePage;
    }
}

TEST(HttpUrlAnalyzer, NullUrlAndReuseLeaveEveryNumberZero)
{
    CHttpUrlAnalyzerT analyzer;
    analyzer.Analyze("https://host:1/p?q#f", kNoLeadBytes);
    analyzer.Analyze(nullptr, kNoLeadBytes);
    EXPECT_EQ(Show(Analyzed("", kNoLeadBytes)), Show(Parts{}));
    EXPECT_EQ(analyzer.HostLength() + analyzer.PathStart() + analyzer.FragmentLength(), 0u);
}

TEST(HttpUrlAnalyzer, RefusesUtf8AndUtf7CodePages)
{
    for (UINT codePage : {UINT(CP_UTF8), UINT(CP_UTF7)}) {
        ExpectHttpError([&] { CHttpUrlAnalyzerT().Analyze("http://h/", codePage); }, 0, 0,
                        "CHttpUrlAnalyzerT::Analyze: CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter.");
    }
}

TEST(HttpUrlAnalyzer, SecureIsTheHttpsSchemeInAnyLetterCase)
{
    const struct {
        const char* url;
        BOOL secure;
    } cases[] = {
        {"https://h/", TRUE}, {"HTTPS://h/", TRUE}, {"hTtPs://h", TRUE},   {"http://h/", FALSE},
        {"httpss://h/", FALSE}, {"https:/h/", FALSE}, {"h:443/https", FALSE}, {"shttp://h", FALSE},
    };
    for (const auto& c : cases) {
        CHttpUrlAnalyzerT analyzer;
        analyzer.Analyze(c.url, kNoLeadBytes);
        EXPECT_EQ(CHttpUrlAnalyzerT::IsSecure(c.url, analyzer), c.secure) << c.url;
    }
}
