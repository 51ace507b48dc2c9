// Times the installed road: how long after it is asked to start the launcher does the
// client runtime run, against asking for the runtime itself. Both starts are made here,
// by the same CreateProcessW call, with the clock read just before it; the stub runtime
// reads the same clock first thing at its entry and records it ("started" in
// launches.jsonl beside it). bench/start prints the figures.
//
//   start_bench OUT_FILE REPETITIONS WARMUPS RUNTIME ARGUMENT STARTER...
//
// Each STARTER (the launcher, or a stand-in for comparison) lies in RUNTIME's folder
// and starts that runtime, so every road starts the very same runtime file; the
// direct road gets the command line the launcher builds, the runtime path and
// ARGUMENT each in double quotes. Each repetition takes every road once, in an order
// that rotates, so drift in the machine's load falls on all alike. One line per
// measured start goes to OUT_FILE: "<road> <microseconds to the runtime's entry>
// <microseconds until the started process ended> <its exit code>", where the road is
// "direct" or the starter's position among the STARTERs (1, 2, ...).
//
// A GUI program like the launcher: neither start comes from a process with a console,
// so the runtime (a console program, started with CREATE_NO_WINDOW by both) meets the
// same conditions on both roads.
#include "common/UniqueHandle.h"

#include "tests/support/SystemClock.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::wstring quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

std::string readAll(const std::wstring& path)
{
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    if (!file)
        return bytes;
    char block[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), block, sizeof(block), &read, nullptr) && read > 0)
        bytes.append(block, read);
    return bytes;
}

// The "started" time of the record after `known` bytes of the log, once that record is
// written whole; 0 when none came within the limit.
unsigned long long awaitRecord(const std::wstring& log, std::size_t known, DWORD limitMs)
{
    const ULONGLONG end = GetTickCount64() + limitMs;
    for (;;) {
        const std::string bytes = readAll(log);
        if (bytes.size() > known && bytes.back() == '\n') {
            const std::size_t at = bytes.find("\"started\": ", known);
            if (at == std::string::npos)
                return 0;
            return std::strtoull(bytes.c_str() + at + 11, nullptr, 10);
        }
        if (GetTickCount64() > end)
            return 0;
        Sleep(2);
    }
}

struct Start {
    const char* failure = "";
    double toEntryUs = 0;
    double toExitUs = 0;
    DWORD exitCode = 0;
    bool ok = false;
};

Start startAndTime(const std::wstring& program, const std::wstring& commandLine, const std::wstring& log)
{
    Start result;
    const std::size_t known = readAll(log).size();

    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');
    // What the launcher hands its runtime: shown normally, no console window.
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION created{};

    const unsigned long long asked = systemTimeNow();
    if (!CreateProcessW(program.c_str(), writable.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &created)) {
        result.failure = "not started";
        return result;
    }
    UniqueHandle thread(created.hThread);
    UniqueHandle process(created.hProcess);
    if (WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0) {
        // A launcher that shows its dialog (no version record) waits for a user: end it
        // rather than leave it behind.
        TerminateProcess(process.get(), 3);
        result.failure = "did not end";
        return result;
    }
    const unsigned long long ended = systemTimeNow();
    GetExitCodeProcess(process.get(), &result.exitCode);

    // On the launcher's road the runtime may still be starting when the launcher ends.
    const unsigned long long entered = awaitRecord(log, known, 60000);
    if (entered == 0 || entered < asked) {
        result.failure = entered == 0 ? "no runtime record" : "runtime record from before the start";
        return result;
    }
    result.toEntryUs = static_cast<double>(entered - asked) / 10.0;
    result.toExitUs = static_cast<double>(ended - asked) / 10.0;
    result.ok = true;
    return result;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    if (__argc < 7)
        return 2;
    const std::wstring outPath = __wargv[1];
    const int repetitions = _wtoi(__wargv[2]);
    const int warmups = _wtoi(__wargv[3]);
    const std::wstring runtime = __wargv[4];
    const std::wstring argument = __wargv[5];
    const std::wstring log = runtime.substr(0, runtime.find_last_of(L'\\') + 1) + L"launches.jsonl";

    struct Road {
        std::string name;
        std::wstring program;
        std::wstring commandLine;
    };
    std::vector<Road> roads{{"direct", runtime, quoted(runtime) + L" " + quoted(argument)}};
    for (int i = 6; i < __argc; ++i)
        // The launcher ignores its command line; the stand-ins take the folder from it.
        roads.push_back({std::to_string(i - 5), __wargv[i], quoted(__wargv[i]) + L" " + quoted(argument)});
    const int count = static_cast<int>(roads.size());

    std::FILE* out = _wfopen(outPath.c_str(), L"w");
    if (out == nullptr)
        return 3;
    for (int i = -warmups; i < repetitions; ++i) {
        for (int k = 0; k < count; ++k) {
            const Road& road = roads[(i + warmups + k) % count];
            const Start start = startAndTime(road.program, road.commandLine, log);
            if (!start.ok) {
                std::fprintf(out, "failed %s: %s\n", road.name.c_str(), start.failure);
                std::fclose(out);
                return 1;
            }
            if (i >= 0)
                std::fprintf(out, "%s %.1f %.1f %lu\n", road.name.c_str(), start.toEntryUs, start.toExitUs,
                             static_cast<unsigned long>(start.exitCode));
            // Lets the runtime's process finish ending before the next start.
            Sleep(150);
        }
    }
    std::fclose(out);
    return 0;
}
