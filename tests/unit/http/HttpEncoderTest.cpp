#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/HttpClientMap.h"
#include "http/HttpEncoder.h"
#include "RecordingTool.h"

using Varnu::CHttpEncoderA;

namespace {

constexpr UINT kGbk = 936;
constexpr UINT kWestern = 1252;

std::string UrlEncoded(const char* text, BOOL utf8, UINT codePage)
{
    const DWORD length = CHttpEncoderA::UrlEncodeLenUtf8(text, utf8, codePage);
    std::vector<char> buffer(length + 1, '\x7F');
    CHttpEncoderA::UrlEncodeA(buffer.data(), text, utf8, codePage);
    EXPECT_EQ(buffer[length], '\0') << "declared length " << length << " for " << (text ? text : "(null)");
    return buffer.data();
}

std::vector<std::string> Keys(const Varnu::CHttpClientMapT<RecordingTool>& map)
{
    std::vector<std::string> keys;
    for (DWORD i = 0; i < map.Count(); ++i)
        keys.push_back(map.GetKey(i));
    return keys;
}

}  // namespace

// Only digits and ASCII letters pass; the space becomes "+", every other byte "%XX".
// The declared length always matches the output.
TEST(HttpEncoder, UrlEncodesByteByByte)
{
    const struct {
        const char* text;
        const char* encoded;
    } cases[] = {
        {"a b", "a+b"},         {"+", "%2B"},          {".", "%2E"},
        {"~", "%7E"},           {"-_*", "%2D%5F%2A"},  {"AZaz09", "AZaz09"},
        {"\xE4", "%E4"},        {"1.0.3", "1%2E0%2E3"}, {"a=b&c", "a%3Db%26c"},
        {"%", "%25"},           {"\x7F\x80\xFF", "%7F%80%FF"}, {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UrlEncoded(c.text, FALSE, kGbk), c.encoded) << c.text;
        EXPECT_EQ(CHttpEncoderA::_UrlEncodeLen(c.text), std::string(c.encoded).size()) << c.text;
    }
    EXPECT_EQ(UrlEncoded(nullptr, FALSE, kGbk), "");
    EXPECT_EQ(UrlEncoded(nullptr, TRUE, kGbk), "");
}

// In UTF-8 mode each character of the code page becomes its UTF-8 bytes, each of them
// "%XX": a two-byte GBK character gives three UTF-8 bytes, nine characters.
TEST(HttpEncoder, Utf8ModeEncodesTheUtf8FormOfEachCharacter)
{
    EXPECT_EQ(UrlEncoded("\xC4\xE3", TRUE, kGbk), "%E4%BD%A0");  // U+4F60
    EXPECT_EQ(UrlEncoded("a \xC4\xE3\xBA\xC3.", TRUE, kGbk), "a+%E4%BD%A0%E5%A5%BD%2E");
    EXPECT_EQ(UrlEncoded("getVersionConfig", TRUE, kGbk), "getVersionConfig");
    // the same byte is a character of its own in another code page
    EXPECT_EQ(UrlEncoded("\xE4", TRUE, kWestern), "%C3%A4");
    EXPECT_EQ(UrlEncoded("\xC4\xE3", FALSE, kGbk), "%C4%E3");
}

// A lead byte right before the terminator is one character; what follows the
// terminator is never read.
TEST(HttpEncoder, LeadByteBeforeTheTerminatorStandsAlone)
{
    const char text[] = "a\xC4\0XYZ";
    const std::string encoded = UrlEncoded(text, TRUE, kGbk);
    EXPECT_EQ(encoded.rfind("a", 0), 0u);
    EXPECT_EQ(encoded.find("XYZ"), std::string::npos) << encoded;
    EXPECT_EQ(encoded.find('%'), 1u) << encoded;

    std::vector<char> utf8(CHttpEncoderA::Utf8EncodeLen(text, kGbk) + 1, '\x7F');
    CHttpEncoderA::Utf8Encode(utf8.data(), text, kGbk);
    EXPECT_EQ(std::string(utf8.data()).find("XYZ"), std::string::npos);
}

TEST(HttpEncoder, Utf8EncodeConvertsWithoutUrlEncoding)
{
    const char* text = "x \xC4\xE3";
    ASSERT_EQ(CHttpEncoderA::Utf8EncodeLen(text, kGbk), 5u);
    char buffer[6];
    EXPECT_STREQ(CHttpEncoderA::Utf8Encode(buffer, text, kGbk), "x \xE4\xBD\xA0");
    EXPECT_EQ(CHttpEncoderA::Utf8EncodeLen(nullptr, kGbk), 0u);
    EXPECT_STREQ(CHttpEncoderA::Utf8Encode(buffer, nullptr, kGbk), "");
}

TEST(HttpEncoder, RefusesNullBuffersAndTexts)
{
    ExpectHttpError([] { CHttpEncoderA::UrlEncodeA(nullptr, "a", FALSE, kGbk); }, 0, 0,
                    "CHttpEncoderA::UrlEncodeA: szBuff can not be NULL.");
    ExpectHttpError([] { CHttpEncoderA::Utf8Encode(nullptr, "a", kGbk); }, 0, 0,
                    "CHttpEncoderA::Utf8Encode: szBuff can not be NULL.");
    ExpectHttpError([] { CHttpEncoderA::_UrlEncodeLen(nullptr); }, 0, 0, "_UrlEncodeLen: szStr can not be NULL.");
}

// Names sort byte by byte after folding A-Z only; equal names keep the order they
// were added in, and each value stays with its name.
TEST(HttpClientMap, OrdersNamesWithoutLetterCaseKeepingEqualNamesInOrder)
{
    Varnu::CHttpClientMapT<RecordingTool> map;
    map.Add("b", "1");
    map.Add("A", "2");
    map.Add("a", "3");
    EXPECT_EQ(Keys(map), (std::vector<std::string>{"A", "a", "b"}));
    EXPECT_STREQ(map.GetValue(0), "2");
    EXPECT_STREQ(map.GetValue(1), "3");

    Varnu::CHttpClientMapT<RecordingTool> edges;
    for (const char* name : {"Z", "\xE4", "_", "ab", "a", "[", "z"})
        edges.Add(name);
    // "Z" folds to "z" (0x7A), so "_" (0x5F) and "[" (0x5B) sort before it; 0xE4 last
    EXPECT_EQ(Keys(edges), (std::vector<std::string>{"[", "_", "a", "ab", "Z", "z", "\xE4"}));
    EXPECT_EQ(edges.GetValue(0), nullptr);

    Varnu::CHttpClientMapT<RecordingTool> launcher;
    for (const char* name : {"a", "m", "type", "version", "platform"})
        launcher.Add(name, "v");
    EXPECT_EQ(Keys(launcher), (std::vector<std::string>{"a", "m", "platform", "type", "version"}));
}

TEST(HttpClientMap, RefusesNullNamesAndIndexesPastTheEnd)
{
    Varnu::CHttpClientMapT<RecordingTool> map;
    ExpectHttpError([&] { map.Add(nullptr, "v"); }, 0, 0, "CHttpClientMapT::Add: szName can not be NULL.");
    ExpectHttpError([&] { map.AddPointerDirectly(nullptr, Varnu::CopyText("v")); }, 0, 0,
                    "CHttpClientMapT::AddPointerDirectly: szName can not be NULL.");
    map.Add("n");
    ExpectHttpError([&] { map.GetKey(1); }, 101, 0, "The index is out of range.");
    ExpectHttpError([&] { map.GetValue(7); }, 101, 0, "The index is out of range.");
    EXPECT_EQ(map.Count(), 1u);
}
