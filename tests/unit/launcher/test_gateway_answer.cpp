#include "src/GatewayAnswer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <stdexcept>
#include <string>

namespace {

struct Read {
    GatewayAnswer answer;
    std::string url, ver;
};

// Readings that offer nothing carry no URL or version; the table writes them as the
// values a caller that keeps its own would still hold.
Read read(const char* text)
{
    const GatewayReading reading = readGatewayAnswer(text, "70", PackageProof::Digest);
    const bool offers = reading.answer == GatewayAnswer::NoUpdate || reading.answer == GatewayAnswer::Package;
    EXPECT_TRUE(offers || (reading.package.url.empty() && reading.package.ver.empty())) << text;
    return {reading.answer, offers ? reading.package.url : "unset", offers ? reading.package.ver : "70"};
}

} // namespace

TEST(GatewayAnswer, EveryAnswerShapeMapsToItsOutcome)
{
    const struct {
        const char* text;
        GatewayAnswer answer;
        const char* url;
        const char* ver;
    } cases[] = {
        {R"({"code":0,"result":{"url":"https://h/p.zip","version":"71"}})", GatewayAnswer::Package, "https://h/p.zip", "71"},
        {R"({"code":0,"result":{"url":"https://h/p.zip"}})", GatewayAnswer::Package, "https://h/p.zip", "70"},
        {R"({"code":0,"result":{"url":"https://h/p.zip","version":72}})", GatewayAnswer::Package, "https://h/p.zip", "72"},
        {R"({"code":0,"result":{"url":"","version":"71"}})", GatewayAnswer::NoUpdate, "", "71"},
        {R"({"code":0,"result":{}})", GatewayAnswer::NoUpdate, "", "70"},
        {R"({"code":0,"result":null})", GatewayAnswer::NoUpdate, "", "70"},
        {R"({"code":0})", GatewayAnswer::NoUpdate, "", "70"},
        {R"(/* ok */ {"code":0,"result":{"url":""},"extra":[1,2]})", GatewayAnswer::NoUpdate, "", "70"},
        {R"({"code":1})", GatewayAnswer::Refused, "unset", "70"},
        {R"({"code":-3,"result":{"url":"x"}})", GatewayAnswer::Refused, "unset", "70"},
        {R"({"code":0,"result":{"url":7}})", GatewayAnswer::UrlNotText, "unset", "70"},
        {R"({"code":0,"result":{"url":null}})", GatewayAnswer::UrlNotText, "unset", "70"},
        {R"({"code":"0","result":{"url":""}})", GatewayAnswer::ServerError, "unset", "70"},
        {R"({"code":0.0})", GatewayAnswer::ServerError, "unset", "70"},
        {R"({"result":{"url":""}})", GatewayAnswer::ServerError, "unset", "70"},
        {"<html>busy</html>", GatewayAnswer::ServerError, "unset", "70"},
        {"", GatewayAnswer::ServerError, "unset", "70"},
        // A staging folder, which a failed pass leaves half written, is no version.
        {R"({"code":0,"result":{"url":"","version":"temp71"}})", GatewayAnswer::ServerError, "unset", "70"},
        {R"({"code":0,"result":{"url":"u","version":"TEMP"}})", GatewayAnswer::ServerError, "unset", "70"},
        {"[0]", GatewayAnswer::ServerError, "unset", "70"},
        {R"({"code":0,"result":"https://h/p.zip"})", GatewayAnswer::ServerError, "unset", "70"},
        {R"({"code":0,"result":[]})", GatewayAnswer::ServerError, "unset", "70"},
        // Versions that cannot name one folder would point deployment elsewhere.
        {R"({"code":0,"result":{"url":"u","version":"..\\.."}})", GatewayAnswer::ServerError, "unset", "70"},
        {R"({"code":0,"result":{"url":"u","version":"a/b"}})", GatewayAnswer::ServerError, "unset", "70"},
        {R"({"code":0,"result":{"url":"u","version":"CON"}})", GatewayAnswer::ServerError, "unset", "70"},
        {R"({"code":0,"result":{"url":"u","version":""}})", GatewayAnswer::ServerError, "unset", "70"},
        {R"({"code":0,"result":{"url":"u","version":null}})", GatewayAnswer::ServerError, "unset", "70"},
        // The file system would drop the lone lead byte and see "..".
        {"{\"code\":0,\"result\":{\"url\":\"u\",\"version\":\"..\x81\"}}", GatewayAnswer::ServerError, "unset", "70"},
    };
    for (const auto& c : cases) {
        const Read got = read(c.text);
        EXPECT_EQ(got.answer, c.answer) << c.text;
        EXPECT_EQ(got.url, c.url) << c.text;
        EXPECT_EQ(got.ver, c.ver) << c.text;
    }
}

TEST(GatewayAnswer, VersionsThatAreNoTextRaise)
{
    EXPECT_THROW(readGatewayAnswer(R"({"code":0,"result":{"url":"u","version":1.5}})", "70", PackageProof::Digest), std::exception);
    EXPECT_THROW(readGatewayAnswer(R"({"code":0,"result":{"url":"u","version":["7"]}})", "70", PackageProof::Digest), std::exception);
    EXPECT_THROW(readGatewayAnswer(R"({"code":0,"result":{"url":"u","version":{}}})", "70", PackageProof::Digest), std::exception);
}

TEST(GatewayAnswer, BooleanVersionBecomesItsText)
{
    const GatewayReading reading = readGatewayAnswer(R"({"code":0,"result":{"url":"u","version":true}})", "70", PackageProof::Digest);
    EXPECT_EQ(reading.answer, GatewayAnswer::Package);
    EXPECT_EQ(reading.package.ver, "true");
}

TEST(GatewayAnswer, NestingBeyondTheParsersDepthLimitIsAnUnreadableAnswer)
{
    // JsonCpp's reader throws at its depth limit; the answer must read as the
    // server's fault, not escape as an error of the network.
    const std::string deepArray(10000, '[');
    EXPECT_EQ(readGatewayAnswer(deepArray.c_str(), "70", PackageProof::Digest).answer, GatewayAnswer::ServerError);
    std::string deepObject;
    for (int i = 0; i < 2000; ++i)
        deepObject += "{\"a\":";
    EXPECT_EQ(readGatewayAnswer(deepObject.c_str(), "70", PackageProof::Digest).answer, GatewayAnswer::ServerError);
    const std::string deepVersion = R"({"code":0,"result":{"url":"u","version":)" + std::string(4000, '[') +
                                    std::string(4000, ']') + "}}";
    EXPECT_EQ(readGatewayAnswer(deepVersion.c_str(), "70", PackageProof::Digest).answer, GatewayAnswer::ServerError);
    // Below the limit nesting is only another wrong type.
    const std::string shallow = R"({"code":0,"result":{"url":"","x":)" + std::string(900, '[') +
                                std::string(900, ']') + "}}";
    EXPECT_EQ(readGatewayAnswer(shallow.c_str(), "70", PackageProof::Digest).answer, GatewayAnswer::NoUpdate);
}

TEST(GatewayAnswer, ThePackagesDigestAndSignatureAreReadOnlyInTheirExactForms)
{
    const std::string hex = "90f42c65d9a383dac53634ce7792fffb739ff27af550308aae1bfedcd47e98f6";
    std::string upper = hex;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    // 64 bytes whose standard base64 uses both "+" and "/".
    const std::string sig = "4DRYyVk9FcKH+8E+mcfMqASPDJp52s/Yr08vTLNOemdZu7g21YEGWkyQgcqPvifMN8asp73ITiidJV6ZzYxQAw==";
    const std::string sigBytes =
        "\xe0\x34\x58\xc9\x59\x3d\x15\xc2\x87\xfb\xc1\x3e\x99\xc7\xcc\xa8\x04\x8f\x0c\x9a\x79\xda\xcf\xd8\xaf\x4f\x2f"
        "\x4c\xb3\x4e\x7a\x67\x59\xbb\xb8\x36\xd5\x81\x06\x5a\x4c\x90\x81\xca\x8f\xbe\x27\xcc\x37\xc6\xac\xa7\xbd\xc8"
        "\x4e\x28\x9d\x25\x5e\x99\xcd\x8c\x50\x03";
    std::string urlSafe = sig;
    for (char& c : urlSafe)
        c = c == '+' ? '-' : c == '/' ? '_' : c;
    // The DER form of a signature, as openssl writes it, in base64.
    const std::string der = "MEUCIQDgNFjJWT0Vwof7wT6Zx8yoBI8Mmnnaz9ivTy9Ms056ZwIgWbu4NtWBBlpMkIHKj74nzDfGrKe9yE4onSVemc2MUAM=";
    const auto q = [](const std::string& text) { return "\"" + text + "\""; };

    const std::string D = "Digest", S = "Signature";
    const struct {
        std::string proof, url, sha256, signature; // raw JSON values; "-" leaves the member out
        GatewayAnswer answer;
        std::string keptSha256, keptSignature;
    } cases[] = {
        {D, q("u"), "-", "-", GatewayAnswer::Package, "", ""},
        {D, q("u"), "null", "-", GatewayAnswer::Package, "", ""},
        {D, q("u"), q(hex), "-", GatewayAnswer::Package, hex, ""},
        {D, q("u"), q(upper), "-", GatewayAnswer::Package, hex, ""},
        {D, q("u"), q(hex.substr(0, 32) + upper.substr(32)), "-", GatewayAnswer::Package, hex, ""},
        {D, q("u"), q(""), "-", GatewayAnswer::ServerError, "", ""},
        {D, q("u"), q(hex.substr(1)), "-", GatewayAnswer::ServerError, "", ""},
        {D, q("u"), q(hex + "0"), "-", GatewayAnswer::ServerError, "", ""},
        {D, q("u"), q(hex.substr(1) + "g"), "-", GatewayAnswer::ServerError, "", ""},
        {D, q("u"), q(" " + hex.substr(1)), "-", GatewayAnswer::ServerError, "", ""},
        {D, q("u"), q("0x" + hex.substr(2)), "-", GatewayAnswer::ServerError, "", ""},
        {D, q("u"), q(hex.substr(0, 63) + "\\u0000"), "-", GatewayAnswer::ServerError, "", ""},
        {D, q("u"), "0", "-", GatewayAnswer::ServerError, "", ""},
        {D, q("u"), "1e64", "-", GatewayAnswer::ServerError, "", ""},
        {D, q("u"), "true", "-", GatewayAnswer::ServerError, "", ""},
        {D, q("u"), "{}", "-", GatewayAnswer::ServerError, "", ""},
        {D, q("u"), "[" + q(hex) + "]", "-", GatewayAnswer::ServerError, "", ""},
        // Without a key the signature is not looked at, whatever it is.
        {D, q("u"), q(hex), "7", GatewayAnswer::Package, hex, ""},
        {D, q("u"), q(hex), q(sig), GatewayAnswer::Package, hex, ""},
        {S, q("u"), q(hex), q(sig), GatewayAnswer::Package, hex, sigBytes},
        {S, q("u"), q(upper), q(sig), GatewayAnswer::Package, hex, sigBytes},
        {S, q("u"), "-", q(sig), GatewayAnswer::ServerError, "", ""},
        {S, q("u"), "null", q(sig), GatewayAnswer::ServerError, "", ""},
        {S, q("u"), q(hex), "-", GatewayAnswer::ServerError, "", ""},
        {S, q("u"), q(hex), "null", GatewayAnswer::ServerError, "", ""},
        {S, q("u"), q(hex), q(""), GatewayAnswer::ServerError, "", ""},
        {S, q("u"), q(hex), q(sig.substr(0, 86)), GatewayAnswer::ServerError, "", ""},
        {S, q("u"), q(hex), q(sig.substr(0, 87)), GatewayAnswer::ServerError, "", ""},
        {S, q("u"), q(hex), q(sig + "="), GatewayAnswer::ServerError, "", ""},
        {S, q("u"), q(hex), q("AAAA" + sig), GatewayAnswer::ServerError, "", ""},
        {S, q("u"), q(hex), q(sig.substr(0, 84) + "A==="), GatewayAnswer::ServerError, "", ""},
        {S, q("u"), q(hex), q(der), GatewayAnswer::ServerError, "", ""},
        {S, q("u"), q(hex), q(urlSafe), GatewayAnswer::ServerError, "", ""},
        {S, q("u"), q(hex), q(sig.substr(0, 44) + "\\n" + sig.substr(44)), GatewayAnswer::ServerError, "", ""},
        {S, q("u"), q(hex), q(sig.substr(0, 43) + " " + sig.substr(44)), GatewayAnswer::ServerError, "", ""},
        // The same 64 bytes with the four bits before the padding set: a second
        // spelling of one signature is not one the release tool writes.
        {S, q("u"), q(hex), q(sig.substr(0, 85) + "x=="), GatewayAnswer::ServerError, "", ""},
        {S, q("u"), q(hex), "12345", GatewayAnswer::ServerError, "", ""},
        {S, q("u"), q(hex), "[" + q(sig) + "]", GatewayAnswer::ServerError, "", ""},
        // Nothing to install: the digest is never looked at; without a key neither is
        // the signature, and with one the signature is required all the same.
        {D, q(""), q("zz"), "-", GatewayAnswer::NoUpdate, "", ""},
        {D, "-", q(hex), q("short"), GatewayAnswer::NoUpdate, "", ""},
        {S, q(""), "-", "-", GatewayAnswer::ServerError, "", ""},
        {S, q(""), "[]", "0", GatewayAnswer::ServerError, "", ""},
        {S, "-", q(hex), q("short"), GatewayAnswer::ServerError, "", ""},
        {S, q(""), "[]", q(sig), GatewayAnswer::NoUpdate, "", sigBytes},
        {S, "-", "-", q(sig), GatewayAnswer::NoUpdate, "", sigBytes},
        {S, "7", q(hex), q(sig), GatewayAnswer::UrlNotText, "", ""},
    };
    for (const auto& c : cases) {
        std::string result = "\"version\":\"71\"";
        if (c.url != "-")
            result += ",\"url\":" + c.url;
        if (c.sha256 != "-")
            result += ",\"sha256\":" + c.sha256;
        if (c.signature != "-")
            result += ",\"signature\":" + c.signature;
        const std::string text = "{\"code\":0,\"result\":{" + result + "}}";
        const PackageProof proof = c.proof == S ? PackageProof::Signature : PackageProof::Digest;
        const GatewayReading reading = readGatewayAnswer(text.c_str(), "70", proof);
        EXPECT_EQ(reading.answer, c.answer) << c.proof << " " << text;
        EXPECT_EQ(reading.package.sha256, c.keptSha256) << c.proof << " " << text;
        EXPECT_EQ(reading.package.signature, c.keptSignature) << c.proof << " " << text;
        EXPECT_EQ(reading.package.url.empty(), c.answer != GatewayAnswer::Package) << c.proof << " " << text;
    }
}
