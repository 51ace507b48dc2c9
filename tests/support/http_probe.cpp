// Drives the HTTP client the way the launcher does, for the end-to-end tests.
//
//   http_probe post URL [--no-utf8] [--flags HEX] NAME[=VALUE]...
//       UTF-8 form POST of the parameters, added in the order given (NAME alone adds
//       a null value), stepped until the response comes
//   http_probe get URL [--flags HEX] [--block N] [NAME[=VALUE]...]
//       GET, the body read in blocks of N bytes (default 10239)
//
// Arguments are converted to the ANSI code page, as the launcher's texts are. Prints
// "steps=N" (post), "content-length=N" or "content-length=none", "reads=N" and
// "body=HEX"; on failure "error code=N win32=N message=TEXT" and exit code 1.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "http/HttpClient.h"
#include "tests/support/TextConversion.h"

namespace {

constexpr DWORD kLauncherFlags = 0x84400F00;

int usage()
{
    std::fprintf(stderr, "usage: http_probe post|get URL [--no-utf8] [--flags HEX] [--block N] [NAME[=VALUE]...]\n");
    return 2;
}

void printBody(Varnu::CHttpResponse& response, DWORD cbBlock)
{
    DWORD cbContentLength = 0;
    if (response.GetContentLength(cbContentLength))
        std::printf("content-length=%lu\n", static_cast<unsigned long>(cbContentLength));
    else
        std::printf("content-length=none\n");

    std::vector<BYTE> block(cbBlock);
    std::string hex;
    unsigned long reads = 0;
    for (;;) {
        const DWORD cbRead = response.ReadContent(block.data(), cbBlock);
        if (cbRead == 0)
            break;
        ++reads;
        for (DWORD i = 0; i < cbRead; ++i) {
            char pair[3];
            std::snprintf(pair, sizeof(pair), "%02x", block[i]);
            hex += pair;
        }
    }
    std::printf("reads=%lu\nbody=%s\n", reads, hex.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return usage();
    const std::wstring verb = argv[1];
    if (verb != L"post" && verb != L"get")
        return usage();
    const std::string url = narrow(argv[2]);

    BOOL useUtf8 = TRUE;
    DWORD flags = kLauncherFlags;
    DWORD cbBlock = 10239;
    struct Param {
        std::string name;
        std::string value;
        bool hasValue;
    };
    std::vector<Param> params;
    for (int i = 3; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--no-utf8") {
            useUtf8 = FALSE;
        } else if (arg == L"--flags" && i + 1 < argc) {
            flags = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 16));
        } else if (arg == L"--block" && i + 1 < argc) {
            cbBlock = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
        } else {
            const std::string text = narrow(argv[i]);
            const size_t equals = text.find('=');
            if (equals == std::string::npos)
                params.push_back({text, {}, false});
            else
                params.push_back({text.substr(0, equals), text.substr(equals + 1), true});
        }
    }

    try {
        Varnu::CHttpClient client;
        for (const Param& param : params)
            client.AddParam(param.name.c_str(), param.hasValue ? param.value.c_str() : nullptr);

        std::unique_ptr<Varnu::CHttpResponse> response;
        if (verb == L"post") {
            client.SetUseUtf8(useUtf8);
            client.StartFormPost(url.c_str(), flags);
            unsigned long steps = 0;
            do {
                ++steps;
                response = client.ContinuePost();
            } while (!response);
            std::printf("steps=%lu\n", steps);
        } else {
            response = client.SendGet(url.c_str(), flags);
        }
        printBody(*response, cbBlock);
        return 0;
    } catch (const Varnu::httpclientexceptionA& e) {
        std::printf("error code=%lu win32=%lu message=%s\n", static_cast<unsigned long>(e.ErrorCode()),
                    static_cast<unsigned long>(e.Win32Error()), e.Message());
    } catch (const std::exception& e) {
        std::printf("error code=none win32=0 message=%s\n", e.what());
    }
    return 1;
}
