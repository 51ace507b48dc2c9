// Stands in for the client runtime (built as erp.exe and as nw.exe). It records how
// it was started, one JSON line appended to launches.jsonl beside itself, so a test
// can assert the exact command line, working directory and process id. When a file
// named stub-sleep lies beside it, it then waits until it is killed, which lets a
// test play a client that is still running.
#include <windows.h>

#include <string>

namespace {

std::string toUtf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::string jsonString(const std::wstring& text)
{
    std::string out = "\"";
    for (unsigned char c : toUtf8(text)) {
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

} // namespace

int wmain()
{
    const std::wstring self = modulePath();
    const std::wstring folder = self.substr(0, self.find_last_of(L'\\') + 1);

    const std::string line = "{\"exe\": " + jsonString(self) +
                             ", \"command_line\": " + jsonString(GetCommandLineW()) +
                             ", \"cwd\": " + jsonString(currentDirectory()) +
                             ", \"pid\": " + std::to_string(GetCurrentProcessId()) + "}\n";

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
