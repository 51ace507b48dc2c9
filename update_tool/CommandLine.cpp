#include "update_tool/CommandLine.h"

#include "update_tool/Modes.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// GBK, as the client's users read it. The third entry shows "-m" although "-c"
// creates folders: the client relies on "-c", so the text stays as shipped.
constexpr const char* kUsage[] = {
    "\xbd\xab\xc9\xfd\xbc\xb6\xce\xc4\xbc\xfe\xbf\xbd\xbd\xf8\xb3\xcc\xd0\xf2\xc4\xbf\xc2\xbc  \n\t"
    "  -n pid \xb0\xe6\xb1\xbe\xd0\xc5\xcf\xa2 \xd4\xb4\xc4\xbf\xc2\xbc \xc4\xbf\xb1\xea\xc4\xbf\xc2\xbc "
    "\xce\xc4\xbc\xfe\xc3\xfb \xce\xc4\xbc\xfe\xc3\xfb \xce\xc4\xbc\xfe\xc3\xfb ...",
    "\xbd\xab\xc9\xfd\xbc\xb6\xce\xc4\xbc\xfe\xbd\xe2\xd1\xb9\xb5\xbd\xb3\xcc\xd0\xf2\xc4\xbf\xc2\xbc\n\t"
    "  -u pid \xb0\xe6\xb1\xbe\xd0\xc5\xcf\xa2 ZIP\xce\xc4\xbc\xfe \xc4\xbf\xb1\xea\xc4\xbf\xc2\xbc",
    "\xd0\xc2\xbd\xa8\xce\xc4\xbc\xfe\xbc\xd0              \n\t"
    "  -m \xce\xc4\xbc\xfe\xbc\xd0\xc3\xfb",
    "\xc9\xbe\xb3\xfd\xce\xc4\xbc\xfe\xbc\xd0              \n\t"
    "  -d \xce\xc4\xbc\xfe\xbc\xd0\xc3\xfb",
    "",
};

// How the first argument names a mode.
enum class Match {
    FirstTwo, // a hyphen and the lower-case letter; whatever follows them is ignored
    Whole,    // the argument and nothing else
};

using ModeEntry = int (*)(const wchar_t* const* argv, int argc);

struct ModeRow {
    Mode mode;
    const wchar_t* selector;
    Match match;
    int lastPosition; // the highest argument position the mode reads
    ModeEntry run;    // takes the positions up to lastPosition by meaning

    bool selectedBy(const wchar_t* argument) const
    {
        return match == Match::Whole ? std::wcscmp(argument, selector) == 0
                                     : std::wcsncmp(argument, selector, 2) == 0;
    }
};

// Tested from the top: the first row whose selector matches decides, even when its
// arguments are not all there.
const ModeRow kModes[] = {
    {Mode::MoveFiles, L"-n", Match::FirstTwo, 4,
     [](const wchar_t* const* argv, int argc) {
         return runMoveMode(argv[2], argv[3], argv[4], std::vector<std::wstring>(argv + 5, argv + argc));
     }},
    {Mode::Unpack, L"-u", Match::FirstTwo, 5,
     [](const wchar_t* const* argv, int) {
         return runUnpackMode(processIdFromText(argv[2]), argv[3], argv[4], argv[5]);
     }},
    {Mode::Autostart, L"r", Match::Whole, 2,
     [](const wchar_t* const* argv, int) { return runAutostartMode(argv[2]); }},
    {Mode::CreateFolders, L"-c", Match::FirstTwo, 2,
     [](const wchar_t* const* argv, int) { return runCreateFolderMode(argv[2]); }},
    {Mode::DeleteFolderTree, L"-d", Match::FirstTwo, 2,
     [](const wchar_t* const* argv, int) { return runDeleteFolderMode(argv[2]); }},
};

// The row `argv` selects with all its arguments present, or null for the usage.
const ModeRow* selectedRow(int argc, const wchar_t* const* argv)
{
    if (argc < 2 || argv == nullptr || argv[1] == nullptr)
        return nullptr;
    for (const ModeRow& row : kModes) {
        if (row.selectedBy(argv[1]))
            return argc > row.lastPosition ? &row : nullptr;
    }
    return nullptr;
}

} // namespace

Mode selectMode(int argc, const wchar_t* const* argv)
{
    const ModeRow* row = selectedRow(argc, argv);
    return row ? row->mode : Mode::Usage;
}

DWORD processIdFromText(const wchar_t* text)
{
    // The tool runs with administrator rights: cut to 32 bits, 4294967300 would end
    // process 4, and "-1" some other one. An id that is negative or does not fit in 32
    // bits names no process the client can have meant, so it reads as 0: none is ended.
    errno = 0;
    const long long id = std::wcstoll(text, nullptr, 10);
    if (errno == ERANGE || id < 0 || id > static_cast<long long>(MAXDWORD))
        return 0;
    return static_cast<DWORD>(id);
}

void printUsage()
{
    for (const char* entry : kUsage)
        std::printf("%s\n", entry);
}

int runUpdateTool(int argc, const wchar_t* const* argv)
{
    if (const ModeRow* row = selectedRow(argc, argv))
        return row->run(argv, argc);
    printUsage();
    return 0;
}
