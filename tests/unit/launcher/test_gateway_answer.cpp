#include "GatewayAnswer.h"

#include <gtest/gtest.h>

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
    const GatewayReading reading = readGatewayAnswer(text, "70");
    const bool offers = reading.answer == GatewayAnswer::NoUpdate || reading.answer == GatewayAnswer::Package;
    EXPECT_TRUE(offers || (reading.url.empty() && reading.ver.empty())) << text;
    return {reading.answer, offers ? reading.url : "unset", offers ? reading.ver : "70"};
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
    EXPECT_THROW(readGatewayAnswer(R"({"code":0,"result":{"url":"u","version":1.5}})", "70"), std::exception);
    EXPECT_THROW(readGatewayAnswer(R"({"code":0,"result":{"url":"u","version":["7"]}})", "70"), std::exception);
    EXPECT_THROW(readGatewayAnswer(R"({"code":0,"result":{"url":"u","version":{}}})", "70"), std::exception);
}

TEST(GatewayAnswer, BooleanVersionBecomesItsText)
{
    const GatewayReading reading = readGatewayAnswer(R"({"code":0,"result":{"url":"u","version":true}})", "70");
    EXPECT_EQ(reading.answer, GatewayAnswer::Package);
    EXPECT_EQ(reading.ver, "true");
}

TEST(GatewayAnswer, NestingBeyondTheParsersDepthLimitIsAnUnreadableAnswer)
{
    // JsonCpp's reader throws at its depth limit; the answer must read as the
    // server's fault, not escape as an error of the network.
    const std::string deepArray(10000, '[');
    EXPECT_EQ(readGatewayAnswer(deepArray.c_str(), "70").answer, GatewayAnswer::ServerError);
    std::string deepObject;
    for (int i = 0; i < 2000; ++i)
        deepObject += "{\"a\":";
    EXPECT_EQ(readGatewayAnswer(deepObject.c_str(), "70").answer, GatewayAnswer::ServerError);
    const std::string deepVersion = R"({"code":0,"result":{"url":"u","version":)" + std::string(4000, '[') +
                                    std::string(4000, ']') + "}}";
    EXPECT_EQ(readGatewayAnswer(deepVersion.c_str(), "70").answer, GatewayAnswer::ServerError);
    // Below the limit nesting is only another wrong type.
    const std::string shallow = R"({"code":0,"result":{"url":"","x":)" + std::string(900, '[') +
                                std::string(900, ']') + "}}";
    EXPECT_EQ(readGatewayAnswer(shallow.c_str(), "70").answer, GatewayAnswer::NoUpdate);
}
