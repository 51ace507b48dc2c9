// Runs a list of (mostly hostile) zip archives through one program's extraction, each
// into a fresh sandbox folder, and reports per archive what the extraction returned and
// what it left in the sandbox. Built twice: with ARCHIVE_CAMPAIGN_LAUNCHER against the
// launcher's UpdateTool::unzipFiles, without it against the update tool's.
//
//   archive_campaign_<x> LIST RESULTS SANDBOXES FIRST SECONDS
//
// LIST holds one archive path per line (UTF-8); the archive on line i (from 0) is
// extracted into SANDBOXES\i. Archives from line FIRST on are run. Each archive appends
// one line to RESULTS as soon as it is done:
//
//   i <TAB> result <TAB> files <TAB> bytes <TAB> crc:size:name ...
//
// with the launcher's return value or the tool's Complete / Incomplete /
// TargetNotEntered, and every file found in the sandbox afterwards (the CRC-32 of its bytes,
// its size, its relative name in UTF-8 with blanks, controls and % escaped as %XX). The
// sandbox is then deleted. An archive that runs longer than SECONDS gets the line
// "i <TAB> hang" and the process ends with exit code 3; an unhandled exception gets
// "i <TAB> crash <TAB> code" and exit code 4. The caller starts the program again from
// the next archive.

#ifdef ARCHIVE_CAMPAIGN_LAUNCHER
#include "src/UpdateTool.h"
#else
#include "update_tool/ArchiveUnpack.h"
#include "update_tool/UpdateSignature.h"
#endif

#include "tests/support/TextConversion.h"
#include "common/UniqueHandle.h"

#include <zlib.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

namespace {

// One line per archive, written whole with one call so that a crash or a hang later
// cannot lose or tear it.
class ResultFile {
public:
    explicit ResultFile(const std::wstring& path)
        : m_file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    bool isOpen() const { return static_cast<bool>(m_file); }
    void writeLine(const std::string& line) const
    {
        const std::string whole = line + "\n";
        DWORD written = 0;
        WriteFile(m_file.get(), whole.data(), static_cast<DWORD>(whole.size()), &written, nullptr);
        FlushFileBuffers(m_file.get());
    }

private:
    UniqueFileHandle m_file;
};

ResultFile* g_results = nullptr;
std::atomic<long long> g_current{-1};       // the archive being extracted, -1 between
std::atomic<unsigned long long> g_deadline{0}; // GetTickCount64 value it must finish by

[[noreturn]] void reportAndEnd(const std::string& line, UINT exitCode)
{
    g_results->writeLine(line);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), exitCode);
    std::abort(); // not reached
}

LONG WINAPI onCrash(EXCEPTION_POINTERS* info)
{
    char code[16];
    std::snprintf(code, sizeof code, "%08lx",
                  static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode));
    reportAndEnd(std::to_string(g_current.load()) + "\tcrash\t" + code, 4);
}

void watch()
{
    for (;;) {
        Sleep(100);
        const long long current = g_current.load();
        if (current >= 0 && GetTickCount64() > g_deadline.load())
            reportAndEnd(std::to_string(current) + "\thang", 3);
    }
}

// CRC-32, so that the generator can compute the same for what it expects.
std::uint32_t crcOf(HANDLE file, std::uint64_t& size)
{
    uLong crc = crc32(0, nullptr, 0);
    std::vector<unsigned char> block(1 << 16);
    size = 0;
    DWORD got = 0;
    while (ReadFile(file, block.data(), static_cast<DWORD>(block.size()), &got, nullptr) && got > 0) {
        crc = crc32(crc, block.data(), got);
        size += got;
    }
    return static_cast<std::uint32_t>(crc);
}

std::string escapedName(const std::string& name)
{
    std::string out;
    for (unsigned char c : name) {
        if (c <= 0x20 || c == '%' || c == 0x7F) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

struct FoundFile {
    std::string description; // hash:size:name
    std::uint64_t size = 0;
};

// Every file below `folder`, then the folder's contents deleted; links are removed as
// themselves, never followed.
void collectAndClear(const std::wstring& folder, const std::wstring& relative,
                     std::vector<FoundFile>& files)
{
    WIN32_FIND_DATAW found{};
    {
        const UniqueFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &found));
        if (!find)
            return;
        std::vector<WIN32_FIND_DATAW> items;
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..")
                items.push_back(found);
        } while (FindNextFileW(find.get(), &found));

        for (const WIN32_FIND_DATAW& item : items) {
            const std::wstring path = folder + L"\\" + item.cFileName;
            const std::wstring name = relative.empty() ? std::wstring(item.cFileName)
                                                        : relative + L"\\" + item.cFileName;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            const bool isLink = (item.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if ((item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                if (!isLink)
                    collectAndClear(path, name, files);
                RemoveDirectoryW(path.c_str());
                continue;
            }
            FoundFile file;
            {
                const UniqueFileHandle handle(CreateFileW(path.c_str(), GENERIC_READ,
                                                          FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
                std::uint32_t crc = 0;
                if (handle)
                    crc = crcOf(handle.get(), file.size);
                char head[48];
                std::snprintf(head, sizeof head, "%08lx:%llu:", static_cast<unsigned long>(crc),
                              static_cast<unsigned long long>(file.size));
                file.description = head + escapedName(narrow(name, CP_UTF8));
            }
            files.push_back(std::move(file));
            DeleteFileW(path.c_str());
        }
    }
}

std::vector<std::wstring> readList(const std::wstring& path)
{
    std::vector<std::wstring> lines;
    std::FILE* raw = _wfopen(path.c_str(), L"rb");
    if (!raw)
        return lines;
    const UniqueStdioFile file(raw);
    std::string text;
    char block[4096];
    std::size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file.get())) > 0)
        text.append(block, got);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(widen(line, CP_UTF8));
        start = end + 1;
    }
    return lines;
}

#ifdef ARCHIVE_CAMPAIGN_LAUNCHER
std::string extract(const std::wstring& archive, const std::wstring& sandbox, const std::wstring& home)
{
    // The test layout: nothing is installed, the launcher's folder is where the run
    // started, and no dialog exists (progress goes to no window).
    static UpdateTool tool(narrow(home), narrow(home));
    return std::to_string(tool.unzipFiles(narrow(archive), narrow(sandbox)));
}
#else
std::string extract(const std::wstring& archive, const std::wstring& sandbox, const std::wstring& home)
{
    // The tool's extraction as its update stages it: into a folder that only it
    // writes, entered as the current directory. What the staged swap then does with
    // a whole or a failed staging is the unpack mode's own tests'.
    const UniqueFileHandle held = openHeldArchive(archive);
    const bool complete = UpdateProgram::extractArchiveInto(held, sandbox);
    // The sandbox cannot be deleted while it is the current directory.
    SetCurrentDirectoryW(home.c_str());
    return complete ? "Complete" : "Incomplete";
}
#endif

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: archive_campaign LIST RESULTS SANDBOXES FIRST SECONDS\n");
        return 2;
    }
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(onCrash);

    const std::vector<std::wstring> archives = readList(argv[1]);
    ResultFile results(argv[2]);
    if (!results.isOpen()) {
        std::fprintf(stderr, "cannot open the result file\n");
        return 2;
    }
    g_results = &results;
    const std::wstring sandboxes = argv[3];
    const long long first = std::wcstoll(argv[4], nullptr, 10);
    const unsigned long long bound = static_cast<unsigned long long>(std::wcstoll(argv[5], nullptr, 10)) * 1000;

    wchar_t homeBuffer[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, homeBuffer);
    const std::wstring home = homeBuffer;

    std::thread(watch).detach();

    for (long long i = std::max(first, 0ll); i < static_cast<long long>(archives.size()); ++i) {
        const std::wstring sandbox = sandboxes + L"\\" + std::to_wstring(i);
        std::vector<FoundFile> leftovers;
        // In the \\?\ form, which reaches trees past MAX_PATH.
        const std::wstring sandboxLong = L"\\\\?\\" + sandbox;
        collectAndClear(sandboxLong, L"", leftovers); // from a run that ended inside this one
        CreateDirectoryW(sandbox.c_str(), nullptr);

        g_deadline = GetTickCount64() + bound;
        g_current = i;
        const std::string result = extract(archives[static_cast<std::size_t>(i)], sandbox, home);
        g_current = -1;
        std::fflush(stdout);

        std::vector<FoundFile> files;
        collectAndClear(sandboxLong, L"", files);
        RemoveDirectoryW(sandbox.c_str());

        std::uint64_t bytes = 0;
        std::string line = std::to_string(i) + "\t" + result + "\t" + std::to_string(files.size());
        for (const FoundFile& file : files)
            bytes += file.size;
        line += "\t" + std::to_string(bytes);
        for (const FoundFile& file : files)
            line += "\t" + file.description;
        results.writeLine(line);
    }
    return 0;
}
