#include "update_tool/CommandLine.h"

#include "update_tool/ArchiveUnpack.h"
#include "update_tool/AutostartEntry.h"
#include "update_tool/ComposedPath.h"
#include "update_tool/MakeFolders.h"
#include "update_tool/MoveListedFiles.h"
#include "update_tool/ProcessControl.h"
#include "update_tool/RemoveFolderTree.h"
#include "update_tool/VersionFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kRuntimeName[] = L"nw.exe";
constexpr wchar_t kRecordName[] = L"jsver.txt";
constexpr wchar_t kDeleteKeyword[] = L"delete";

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

bool isDashMode(const wchar_t* argument, wchar_t letter)
{
    return argument[0] == L'-' && argument[1] == letter;
}

// The highest argument position each mode reads.
int lastPositionRead(Mode mode)
{
    switch (mode) {
    case Mode::MoveFiles: return 4;
    case Mode::Unpack: return 5;
    case Mode::Autostart:
    case Mode::CreateFolders:
    case Mode::DeleteFolderTree: return 2;
    case Mode::Usage: break;
    }
    return 0;
}

Mode modeOf(const wchar_t* argument)
{
    if (isDashMode(argument, L'n'))
        return Mode::MoveFiles;
    if (isDashMode(argument, L'u'))
        return Mode::Unpack;
    if (std::wcscmp(argument, L"r") == 0)
        return Mode::Autostart;
    if (isDashMode(argument, L'c'))
        return Mode::CreateFolders;
    if (isDashMode(argument, L'd'))
        return Mode::DeleteFolderTree;
    return Mode::Usage;
}

int moveFiles(const wchar_t* const* argv, int argc)
{
    const std::wstring version = argv[2];
    const std::wstring sourceFolder = argv[3];
    const std::wstring targetFolder = argv[4];
    const std::vector<std::wstring> names(argv + 5, argv + argc);

    const int moved = moveListedFiles(sourceFolder, targetFolder, names);
    startRuntime(composePath(targetFolder, kRuntimeName));
    // The record names the installed version; after a failed move it would claim
    // files that are not there.
    if (moved == 0)
        recordVersion(composePath(targetFolder, kRecordName), version);
    return 0;
}

int unpackArchive(const wchar_t* const* argv)
{
    const DWORD processId = processIdFromText(argv[2]);
    const std::wstring version = argv[3];
    const std::wstring archivePath = argv[4];
    const std::wstring targetFolder = argv[5];

    if (processId != 0)
        endProcess(processId);
    const UpdateTool::UnpackResult unpacked = UpdateTool::unzipFiles(archivePath, targetFolder);
    if (unpacked == UpdateTool::UnpackResult::TargetNotEntered)
        return -1;
    // Started again either way, so the user keeps a working client.
    startRuntime(composePath(targetFolder, kRuntimeName));
    if (unpacked == UpdateTool::UnpackResult::Complete)
        recordVersion(composePath(targetFolder, kRecordName), version);
    return 0;
}

} // namespace

Mode selectMode(int argc, const wchar_t* const* argv)
{
    if (argc < 2 || argv == nullptr || argv[1] == nullptr)
        return Mode::Usage;
    const Mode mode = modeOf(argv[1]);
    return argc > lastPositionRead(mode) ? mode : Mode::Usage;
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
    switch (selectMode(argc, argv)) {
    case Mode::MoveFiles:
        return moveFiles(argv, argc);
    case Mode::Unpack:
        return unpackArchive(argv);
    case Mode::Autostart: {
        const std::wstring text = argv[2];
        setAutostartEntry(text, text != kDeleteKeyword);
        return 0;
    }
    case Mode::CreateFolders:
        makeFolders(argv[2]);
        return 0;
    case Mode::DeleteFolderTree:
        removeFolderTree(argv[2]);
        return 0;
    case Mode::Usage:
        break;
    }
    printUsage();
    return 0;
}
