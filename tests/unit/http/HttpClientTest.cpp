#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "RecordingTool.h"

using Strings = std::vector<std::string>;

namespace {

constexpr DWORD kLauncherFlags = 0x84400F00;
const char kGateway[] = "https://localhost/gateway.php";  // port 443 by scheme

// Exposes the client's inner operations to the tests.
struct TestClient : RecordingClient {
    using RecordingClient::_ReleasePostResponse;
    using RecordingClient::OpenConnection;
    using RecordingClient::OpenRequest;
};

class HttpClient : public ::testing::Test {
protected:
    void SetUp() override { RecordingTool::Reset(); }

    static const RecordingTool::State& Tool() { return RecordingTool::state; }

    // Steps the POST to its end; returns the response and counts the steps.
    static std::unique_ptr<RecordingResponse> Finish(RecordingClient& client, int& steps)
    {
        std::unique_ptr<RecordingResponse> response;
        for (steps = 1; !(response = client.ContinuePost()); ++steps) {
            if (steps > 1000)
                throw std::runtime_error("the POST never ends");
        }
        return response;
    }

    static Strings CallsStartingWith(const std::string& prefix)
    {
        Strings found;
        for (const std::string& call : Tool().calls) {
            if (call.rfind(prefix, 0) == 0)
                found.push_back(call);
        }
        return found;
    }
};

const Strings kClosedInOrder = {"Close request", "Close connection", "Close internet"};

}  // namespace

// The version query's form: the request it opens, its headers, and a body in name
// order whose length is the declared Content-Length.
TEST_F(HttpClient, FormPostOfTheLauncherFields)
{
    RecordingClient client;
    client.SetUseUtf8(TRUE);
    client.AddParam("a", "getVersionConfig");
    client.AddParam("m", "Platform");
    client.AddParam("type", "1");
    client.AddParam("version", "1.0.3");
    client.AddParam("platform", "2");
    client.StartFormPost(kGateway, kLauncherFlags);

    const std::string body = "a=getVersionConfig&m=Platform&platform=2&type=1&version=1%2E0%2E3";
    EXPECT_EQ(Tool().calls,
              (Strings{
                  "OpenInternet Varnu HTTP Client Class access=0 proxy=(null) bypass=(null) flags=0x00000000",
                  "OpenConnection internet localhost:443",
                  "OpenRequest connection POST /gateway.php flags=0x84c00f00",
                  "AddHeader request Cache-Control: no-cache",
                  "AddHeader request Content-Type: application/x-www-form-urlencoded",
                  "SendRequestEx request " + std::to_string(body.size()),
              }));
    EXPECT_TRUE(client.GetPostStat().IsActive());
    EXPECT_EQ(client.GetPostStat().ActualTotalByte(), body.size());

    int steps = 0;
    std::unique_ptr<RecordingResponse> response = Finish(client, steps);
    EXPECT_EQ(Tool().body, body);
    EXPECT_EQ(steps, 5 + 5 + 1);  // a name step and a value step per field, and the end
    EXPECT_EQ(Tool().calls.back(), "EndRequest request");
    EXPECT_FALSE(client.GetPostStat().IsActive());
    EXPECT_TRUE(RecordingTool::Closes().empty());
}

// The response owns the handles and may outlive its client.
TEST_F(HttpClient, DeletingTheResponseClosesRequestConnectionInternet)
{
    std::unique_ptr<RecordingResponse> response;
    {
        RecordingClient client;
        client.StartFormPost("http://h/", kLauncherFlags);
        int steps = 0;
        response = Finish(client, steps);
        EXPECT_EQ(steps, 1);  // no parameters: the first step ends the POST
    }
    EXPECT_EQ(CallsStartingWith("SendRequestEx"), Strings{"SendRequestEx request 0"});
    EXPECT_TRUE(RecordingTool::Closes().empty());
    response.reset();
    EXPECT_EQ(RecordingTool::Closes(), kClosedInOrder);
}

// A value of 2500 encoded bytes goes out in blocks of 1024, 1024 and 452; the name
// and "=" go out in the step before.
TEST_F(HttpClient, ValuesGoOutInBlocksOfAtMost1024Bytes)
{
    RecordingClient client;
    client.AddParam("v", std::string(1250, '.').c_str());  // 1250 full stops: 3750 bytes encoded
    client.AddParam("w", std::string(2500, 'x').c_str());
    client.StartFormPost("http://h/", kLauncherFlags);
    int steps = 0;
    auto response = Finish(client, steps);

    EXPECT_EQ(Tool().writes, (std::vector<DWORD>{1, 1, 1024, 1024, 1024, 678, 1, 1, 1, 1024, 1024, 452}));
    EXPECT_EQ(steps, 1 + 4 + 1 + 3 + 1);
    EXPECT_EQ(CallsStartingWith("SendRequestEx"), Strings{"SendRequestEx request " + std::to_string(Tool().body.size())});
    EXPECT_EQ(Tool().body.size(), 1 + 1 + 3750 + 1 + 1 + 1 + 2500u);
}

TEST_F(HttpClient, NullAndEmptyValuesAreSentAsNameAndEqualsSign)
{
    RecordingClient client;
    client.AddParam("n");
    client.AddParam("e", "");
    client.AddParam("s", "a b+c~");
    client.AddParam("", "x");
    client.StartFormPost("http://h/", kLauncherFlags);
    int steps = 0;
    auto response = Finish(client, steps);
    EXPECT_EQ(Tool().body, "=x&e=&n=&s=a+b%2Bc%7E");
    EXPECT_EQ(CallsStartingWith("SendRequestEx"), Strings{"SendRequestEx request 21"});
}

// While a POST runs its parameters and encoding are fixed: the refused calls change
// nothing, and the POST then completes as started.
TEST_F(HttpClient, RefusesParameterChangesWhileAPostIsActive)
{
    RecordingClient client;
    client.AddParam("a", "1");
    client.StartFormPost("http://h/", kLauncherFlags);
    ASSERT_EQ(client.ContinuePost(), nullptr);

    ExpectHttpError([&] { client.AddParam("b", "2"); }, 0, 0,
                    "CHttpClientT::AddParam: It is not allowed to call this method if the POST context is active.");
    ExpectHttpError([&] { client.SetUseUtf8(TRUE); }, 0, 0,
                    "CHttpClientT::SetUseUtf8: It is not allowed to call this method if the POST context is active.");
    EXPECT_FALSE(client.GetUseUtf8());

    int steps = 0;
    auto response = Finish(client, steps);
    EXPECT_EQ(Tool().body, "a=1");

    client.AddParam("b", "2");  // idle again
    client.SetUseUtf8(TRUE);
}

TEST_F(HttpClient, DestroyingAClientMidPostClosesRequestConnectionInternet)
{
    {
        RecordingClient client;
        client.AddParam("a", "1");
        client.StartFormPost("http://h/", kLauncherFlags);
        ASSERT_EQ(client.ContinuePost(), nullptr);
        EXPECT_TRUE(RecordingTool::Closes().empty());
    }
    EXPECT_EQ(RecordingTool::Closes(), kClosedInOrder);
}

// Whatever call fails, the handles opened so far are closed, request first, and the
// client is idle and usable.
TEST_F(HttpClient, FailuresCloseWhatWasOpenedInOrder)
{
    const struct {
        const char* failOn;
        DWORD code;
        const char* message;
        Strings closes;
    } cases[] = {
        {"OpenInternet", 402, "::InternetOpen failed.", {}},
        {"OpenConnection", 403, "::InternetConnect failed.", {"Close internet"}},
        {"OpenRequest", 404, "::HttpOpenRequest failed.", {"Close connection", "Close internet"}},
        {"AddHeader", 405, "::HttpAddRequestHeaders failed.", kClosedInOrder},
        {"SendRequestEx", 407, "::HttpSendRequestEx failed.", kClosedInOrder},
        {"Write", 408, "::InternetWriteFile failed.", kClosedInOrder},
        {"EndRequest", 409, "::HttpEndRequest failed.", kClosedInOrder},
    };
    for (const auto& c : cases) {
        RecordingTool::Reset();
        RecordingTool::state.failOn = c.failOn;
        RecordingTool::state.failError = 12029;
        RecordingClient client;
        client.AddParam("a", "1");
        ExpectHttpError(
            [&] {
                client.StartFormPost("https://h/", kLauncherFlags);
                int steps = 0;
                Finish(client, steps);
            },
            c.code, 12029, c.message);
        EXPECT_EQ(RecordingTool::Closes(), c.closes) << c.failOn;
        EXPECT_FALSE(client.GetPostStat().IsActive()) << c.failOn;
        ExpectHttpError([&] { client.ContinuePost(); }, 104, 0, "The post context is not started yet.");

        RecordingTool::state.failOn.clear();
        client.StartFormPost("https://h/", kLauncherFlags);
        int steps = 0;
        EXPECT_NE(Finish(client, steps), nullptr) << c.failOn;
    }
}

TEST_F(HttpClient, GetFailuresCloseWhatWasOpenedInOrder)
{
    const struct {
        const char* failOn;
        DWORD code;
        Strings closes;
    } cases[] = {
        {"OpenConnection", 403, {"Close internet"}},
        {"OpenRequest", 404, {"Close connection", "Close internet"}},
        {"SendRequest", 406, kClosedInOrder},
    };
    for (const auto& c : cases) {
        RecordingTool::Reset();
        RecordingTool::state.failOn = c.failOn;
        RecordingTool::state.failError = 12007;
        RecordingClient client;
        try {
            client.SendGet("http://h/file", kLauncherFlags);
            ADD_FAILURE() << c.failOn;
        } catch (const Varnu::httpclientexceptionA& e) {
            EXPECT_EQ(e.ErrorCode(), c.code);
            EXPECT_EQ(e.Win32Error(), 12007u);
        }
        EXPECT_EQ(RecordingTool::Closes(), c.closes) << c.failOn;
    }
}

// Starting a new request while a POST is active abandons that POST first.
TEST_F(HttpClient, NewRequestsAbandonAnActivePostFirst)
{
    RecordingClient client;
    client.AddParam("a", "1");
    client.StartFormPost("http://first/", kLauncherFlags);
    RecordingTool::state.calls.clear();

    auto response = client.SendGet("http://second/", kLauncherFlags);
    ASSERT_GE(Tool().calls.size(), 4u);
    EXPECT_EQ(Strings(Tool().calls.begin(), Tool().calls.begin() + 4),
              (Strings{"Close request", "Close connection", "Close internet",
                       "OpenInternet Varnu HTTP Client Class access=0 proxy=(null) bypass=(null) flags=0x00000000"}));
    EXPECT_FALSE(client.GetPostStat().IsActive());
}

// Host, port, object name and flags of a GET, from the URL.
TEST_F(HttpClient, GetConnectsToHostAndPortOfTheUrl)
{
    const struct {
        const char* url;
        const char* connection;
        const char* request;
    } cases[] = {
        {"http://h", "h:80", "GET / flags=0x84400f00"},
        {"HTTPS://h", "h:443", "GET / flags=0x84c00f00"},
        {"https://h:8443/p?q#f", "h:8443", "GET /p?q#f flags=0x84c00f00"},
        {"http://h?x=1", "h:80", "GET /?x=1 flags=0x84400f00"},
        {"http://h#f", "h:80", "GET /#f flags=0x84400f00"},
        {"http://h:0/", "h:0", "GET / flags=0x84400f00"},
        {"http://h:65535/", "h:65535", "GET / flags=0x84400f00"},
        {"https://h:/p", "h:443", "GET /p flags=0x84c00f00"},
        {"h:81/p", "h:81", "GET /p flags=0x84400f00"},
        {"http://a.b.example:00080/x", "a.b.example:80", "GET /x flags=0x84400f00"},
    };
    for (const auto& c : cases) {
        RecordingTool::Reset();
        RecordingClient client;
        auto response = client.SendGet(c.url, kLauncherFlags);
        EXPECT_EQ(CallsStartingWith("OpenConnection"), Strings{std::string("OpenConnection internet ") + c.connection})
            << c.url;
        EXPECT_EQ(CallsStartingWith("OpenRequest"), Strings{std::string("OpenRequest connection ") + c.request}) << c.url;
        EXPECT_EQ(CallsStartingWith("SendRequest"), Strings{"SendRequest request"}) << c.url;
    }
}

TEST_F(HttpClient, RefusesBadPortsAndMissingHosts)
{
    const struct {
        const char* url;
        DWORD code;
    } cases[] = {
        {"http://h:65536/", 107}, {"http://h:80a/", 107}, {"http://h:123456/", 107}, {"http://h:-1/", 107},
        {"http://h: 80/", 107},   {"http:///p", 103},     {"http://:80/", 103},      {"", 103},
        {"http://:99999/", 107},  // the port is checked before the host
    };
    for (const auto& c : cases) {
        RecordingTool::Reset();
        RecordingClient client;
        ExpectHttpError([&] { client.SendGet(c.url, kLauncherFlags); }, c.code, 0, Varnu::HttpErrorMessage(c.code));
        EXPECT_EQ(RecordingTool::Closes(), Strings{"Close internet"}) << c.url;
        EXPECT_TRUE(CallsStartingWith("OpenConnection").empty()) << c.url;
    }
    RecordingTool::Reset();
    RecordingClient client;
    ExpectHttpError([&] { client.SendGet(nullptr, kLauncherFlags); }, 103, 0, "The requested URL is not a valid URL.");
}

// Only INTERNET_FLAG_PRAGMA_NOCACHE asks for "Cache-Control: no-cache", and the
// client adds nothing to the flags but INTERNET_FLAG_SECURE for https: no
// certificate check is ever relaxed.
TEST_F(HttpClient, FlagsAndHeadersFollowTheCallersFlags)
{
    TestClient client;
    client.AddHeader("X-b", "2");
    client.AddHeader("x-A", nullptr);
    for (DWORD flags : {DWORD(0), DWORD(INTERNET_FLAG_RELOAD), kLauncherFlags}) {
        RecordingTool::Reset();
        auto response = client.SendGet("https://h/", flags);
        char text[64];
        std::snprintf(text, sizeof(text), "OpenRequest connection GET / flags=0x%08lx",
                      static_cast<unsigned long>(flags | INTERNET_FLAG_SECURE));
        EXPECT_EQ(CallsStartingWith("OpenRequest"), Strings{text});
        Strings headers = {"AddHeader request x-A: (null)", "AddHeader request X-b: 2"};
        if (flags & INTERNET_FLAG_PRAGMA_NOCACHE)
            headers.insert(headers.begin(), "AddHeader request Cache-Control: no-cache");
        EXPECT_EQ(CallsStartingWith("AddHeader"), headers) << flags;
    }
}

TEST_F(HttpClient, GetParametersExtendTheQueryBeforeTheFragment)
{
    const struct {
        const char* url;
        const char* extended;
    } cases[] = {
        {"http://h", "http://h/?a=1&b=x+y"},
        {"http://h/p", "http://h/p?a=1&b=x+y"},
        {"http://h/p?q=0#frag", "http://h/p?q=0&a=1&b=x+y#frag"},
        {"http://h?q", "http://h/?q&a=1&b=x+y"},
        {"http://h#f", "http://h/?a=1&b=x+y#f"},
    };
    for (const auto& c : cases) {
        RecordingTool::Reset();
        RecordingClient client;
        client.AddParam("b", "x y");
        client.AddParam("a", "1");
        const DWORD length = client.MakeGetUrlLen(c.url);
        std::vector<char> buffer(length + 1, '\x7F');
        client.MakeGetUrl(buffer.data(), c.url);
        EXPECT_EQ(std::string(buffer.data()), c.extended);
        EXPECT_EQ(length, std::string(c.extended).size());

        auto response = client.SendGet(c.url, 0);
        const std::string object = std::string(c.extended).substr(std::string(c.extended).find('/', 7));
        EXPECT_EQ(CallsStartingWith("OpenRequest"), Strings{"OpenRequest connection GET " + object + " flags=0x00000000"});
    }
    RecordingClient client;
    char buffer[16];
    EXPECT_STREQ(client.MakeGetUrl(buffer, "http://h/p"), "http://h/p");
    ExpectHttpError([&] { client.MakeGetUrl(nullptr, "http://h/"); }, 0, 0,
                    "CHttpClientT::MakeGetUrl: szBuff can not be NULL.");
}

TEST_F(HttpClient, ProxyAccountIsSetOnTheConnectionOnlyWhenComplete)
{
    {
        RecordingClient client;
        client.SetProxyAccount("user", "");
        auto response = client.SendGet("http://h/", 0);
        EXPECT_TRUE(CallsStartingWith("SetOption").empty());
    }
    RecordingTool::Reset();
    {
        RecordingClient client;
        client.SetProxyAccount("user", "secret");
        auto response = client.SendGet("http://h/", 0);
        EXPECT_EQ(CallsStartingWith("SetOption"),
                  (Strings{"SetOption connection 43 user 4", "SetOption connection 44 secret 6"}));
    }
    RecordingTool::Reset();
    RecordingTool::state.failOn = "SetOption";
    RecordingTool::state.failError = 87;
    RecordingClient client;
    client.SetProxyAccount("user", "secret");
    ExpectHttpError([&] { client.SendGet("http://h/", 0); }, 410, 87, "::InternetSetOption failed.");
    EXPECT_EQ(RecordingTool::Closes(), (Strings{"Close connection", "Close internet"}));
}

TEST_F(HttpClient, ResponseReportsContentLengthAndReadsInCallerSizedBlocks)
{
    RecordingTool::state.content = "0123456789";
    RecordingTool::state.contentLength = 10;
    RecordingClient client;
    auto response = client.SendGet("http://h/", kLauncherFlags);

    DWORD length = 12345;
    EXPECT_TRUE(response->GetContentLength(length));
    EXPECT_EQ(length, 10u);
    RecordingTool::state.hasContentLength = false;
    length = 12345;
    EXPECT_FALSE(response->GetContentLength(length));
    EXPECT_EQ(length, 12345u);

    BYTE buffer[4];
    std::string read;
    for (DWORD got; (got = response->ReadContent(buffer, sizeof(buffer))) != 0;)
        read.append(reinterpret_cast<char*>(buffer), got);
    EXPECT_EQ(read, "0123456789");

    const size_t callsBefore = Tool().calls.size();
    ExpectHttpError([&] { response->ReadContent(buffer, 0); }, 0, 0,
                    "CHttpResponseT::ReadContent: cbBuff can not be zero.");
    ExpectHttpError([&] { response->ReadContent(nullptr, 4); }, 0, 0,
                    "CHttpResponseT::ReadContent: pbyBuff can not be NULL.");
    EXPECT_EQ(Tool().calls.size(), callsBefore);

    RecordingTool::state.failOn = "Read";
    RecordingTool::state.failError = 12030;
    ExpectHttpError([&] { response->ReadContent(buffer, 4); }, 401, 12030, "::InternetReadFile failed.");
}

TEST_F(HttpClient, InnerOperationsRefuseMissingHandles)
{
    TestClient client;
    ExpectHttpError([&] { client.OpenConnection(nullptr, "http://h/"); }, 0, 0,
                    "CHttpClientT::OpenConnection: hInternet can not be NULL.");
    ExpectHttpError([&] { client.OpenRequest(nullptr, "GET", "http://h/", 0); }, 0, 0,
                    "CHttpClientT::OpenRequest: hConnection can not be NULL.");
    RecordingClient::Handle internet, connection, request;
    ExpectHttpError([&] { client._ReleasePostResponse(internet, connection, request); }, 0, 0,
                    "CHttpClientT::_ReleasePostResponse: The post context is not active.");
    ExpectHttpError([&] { client.ContinuePost(); }, 104, 0, "The post context is not started yet.");
    client.AbandonPost();  // nothing to abandon
    EXPECT_TRUE(Tool().calls.empty());
}

TEST_F(HttpClient, ReleasingThePostHandsTheHandlesToTheCaller)
{
    TestClient client;
    client.AddParam("a", "1");
    client.StartFormPost("http://h/", kLauncherFlags);
    RecordingClient::Handle internet, connection, request;
    client._ReleasePostResponse(internet, connection, request);
    EXPECT_FALSE(client.GetPostStat().IsActive());
    EXPECT_TRUE(internet && connection && request);
    EXPECT_TRUE(RecordingTool::Closes().empty());
    Varnu::CloseRequestHandles(request, connection, internet);
    EXPECT_EQ(RecordingTool::Closes(), kClosedInOrder);
}

TEST_F(HttpClient, ConstructionMakesAGuidBoundary)
{
    RecordingClient first;
    RecordingClient second;
    ASSERT_NE(first.GetBoundary(), nullptr);
    EXPECT_TRUE(std::regex_match(first.GetBoundary(), std::regex("----MORAV-[0-9a-f]{32}-")));
    EXPECT_STRNE(first.GetBoundary(), second.GetBoundary());
    EXPECT_EQ(std::string(first.GetUploadContType()),
              std::string("multipart/form-data; boundary=") + first.GetBoundary());
}
