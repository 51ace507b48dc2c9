// Stands in for the client runtime (built as erp.exe and as nw.exe). It records how
// it was started, one JSON line appended to launches.jsonl beside itself, so a test
// can assert the exact command line, working directory and process id. When a file
// named stub-sleep lies beside it, it then waits until it is killed, which lets a
// test play a client that is still running. When a file named stub-hold lies beside
// it, the runtime first opens the file that stub-hold names on its first line (UTF-8,
// relative to the runtime's folder, or absolute) without sharing its deletion, as a
// running client holds its own files, and keeps it open until it ends; a second line
// "r" shares only reading (the default shares reading and writing). It records its
// start only once it holds the file, and ends with 3 without a record when it cannot
// open it. The record's
// "started" is the system time (100 ns units since 1601) taken first thing at entry,
// so a benchmark can time a start against the moment its starter asked for it.
#include "tests/support/SystemClock.h"
#include "tests/support/TextConversion.h"

#include <windows.h>

#include <string>

namespace {

std::string jsonString(const std::wstring& text)
{
    std::string out = "\"";
    for (unsigned char c : narrow(text, CP_UTF8)) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                wsprintfA(escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::wstring modulePath()
{
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return path;
}

std::wstring currentDirectory()
{
    std::wstring dir(32768, L'\0');
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(dir.size()), dir.data());
    dir.resize(length);
    return dir;
}

struct HeldFile {
    std::wstring name; // empty: hold nothing
    DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
};

// What stub-hold asks for; nothing when there is no such file.
HeldFile heldFile(const std::wstring& folder)
{
    HANDLE file = CreateFileW((folder + L"stub-hold").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    char name[1024];
    DWORD got = 0;
    const BOOL ok = ReadFile(file, name, sizeof(name), &got, nullptr);
    CloseHandle(file);
    std::string text = ok ? std::string(name, got) : std::string();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    HeldFile held;
    const size_t lineEnd = text.find('\n');
    if (lineEnd != std::string::npos) {
        if (text.substr(lineEnd + 1) == "r")
            held.sharing = FILE_SHARE_READ;
        text.resize(lineEnd);
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
    }
    held.name = widen(text, CP_UTF8);
    return held;
}

} // namespace

int wmain()
{
    const unsigned long long started = systemTimeNow();

    const std::wstring self = modulePath();
    const std::wstring folder = self.substr(0, self.find_last_of(L'\\') + 1);

    const HeldFile held = heldFile(folder);
    if (!held.name.empty()) {
        // Deleting, renaming and replacing are never shared. The handle stays open
        // until the process ends.
        const bool absolute = held.name.size() > 1 && held.name[1] == L':';
        const HANDLE file = CreateFileW((absolute ? held.name : folder + held.name).c_str(), GENERIC_READ,
                                        held.sharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return 3;
    }

    const std::string line = "{\"exe\": " + jsonString(self) +
                             ", \"command_line\": " + jsonString(GetCommandLineW()) +
                             ", \"cwd\": " + jsonString(currentDirectory()) +
                             ", \"pid\": " + std::to_string(GetCurrentProcessId()) +
                             ", \"started\": " + std::to_string(started) + "}\n";

    // Appending with full sharing keeps lines whole even if two stubs start at once.
    HANDLE log = CreateFileW((folder + L"launches.jsonl").c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE)
        return 2;
    DWORD written = 0;
    const BOOL ok = WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(log);
    if (!ok || written != line.size())
        return 2;

    if (GetFileAttributesW((folder + L"stub-sleep").c_str()) != INVALID_FILE_ATTRIBUTES)
        Sleep(INFINITE);
    return 0;
}
