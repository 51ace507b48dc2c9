// The tool's modes: the table the first argument is looked up in, and each mode's
// body beside its row. A new mode is one row and one body here.
#include "update_tool/CommandLine.h"

#include "common/FileSystem.h"
#include "update_tool/ArchiveUnpack.h"
#include "update_tool/AutostartEntry.h"
#include "update_tool/ComposedPath.h"
#include "update_tool/ConsoleText.h"
#include "update_tool/MoveListedFiles.h"
#include "update_tool/ProcessControl.h"
#include "update_tool/RecordVersion.h"
#include "update_tool/RemoveFolderTree.h"
#include "update_tool/UpdateSignature.h"
#include "update_tool/UpdateStage.h"
#include "update_tool/VolumeRoot.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

void printLine(const std::wstring& text)
{
    std::printf("%s", consoleText(text).c_str());
}

// -n: moves `names` from `sourceFolder` to `targetFolder` through the staging folder,
// starts the runtime there and, only when every name was moved, records `version`.
int runMoveMode(const std::wstring& version, const std::wstring& sourceFolder, const std::wstring& targetFolder,
                const std::vector<std::wstring>& names)
{
    UpdateStage stage;
    const bool besideTarget = stageBeside(composeLongPath(targetFolder, L""), stage);
    if (besideTarget)
        recoverUnfinishedUpdate(stage);
    // Loose files carry no signature: a build that installs only signed updates moves none.
    const bool keyed = updateToolIsKeyed();
    if (keyed)
        refuseUnsignedMove();
    else if (!besideTarget)
        printLine(L"couldn't stage the update beside " + targetFolder + L"\n");
    const bool moved = !keyed && besideTarget && moveListedFiles(stage, version, sourceFolder, targetFolder, names);
    startRuntime(runtimePathIn(targetFolder));
    // The record names the installed version; after a failed move it would claim
    // files that are not there.
    if (moved) {
        recordVersion(versionFilePathIn(targetFolder), version);
        removeStage(stage);
    }
    return 0;
}

// -u: ends the process `processId` (none for 0), applies `archivePath` to
// `targetFolder`, starts the runtime there and, only when the update is whole, records
// `version`. -1 without starting or recording anything when the target folder cannot
// be entered.
int runUnpackMode(DWORD processId, const std::wstring& version, const std::wstring& archivePath,
                  const std::wstring& targetFolder)
{
    if (processId != 0)
        endProcess(processId);
    const UpdateProgram::UnpackResult unpacked = UpdateProgram::unzipFiles(archivePath, targetFolder, version, updateToolIsKeyed());
    if (unpacked == UpdateProgram::UnpackResult::TargetNotEntered)
        return -1;
    // Started again either way, so the user keeps a working client.
    startRuntime(runtimePathIn(targetFolder));
    if (unpacked == UpdateProgram::UnpackResult::Complete) {
        recordVersion(versionFilePathIn(targetFolder), version);
        UpdateProgram::finishUnpack();
    }
    return 0;
}

// -d: deletes the folder `path` with everything below it, never the root of a drive
// or share.
int runDeleteFolderMode(const std::wstring& path)
{
    // The tool runs with administrator rights: a root, "\" included, would lose
    // everything below it that the walk can reach. The check and the walk take the
    // one resolved string; resolved twice, "C:\ " was judged as a folder " " and
    // listed as C:\ itself.
    const std::wstring start = deletionStart(path);
    // The text catches a subst or mapped drive, whose handle names the folder behind
    // it; the handle catches the device and object-namespace names of a volume.
    if (namesVolumeRoot(path, start) || opensAsVolumeRoot(start)) {
        printLine(L"Not deleting " + path + L": the root of a drive or share\n");
        return 0;
    }
    removeFolderTreeAt(start);
    return 0;
}

// How the first argument names a mode.
enum class Match {
    FirstTwo, // a hyphen and the lower-case letter; whatever follows them is ignored
    Whole,    // the argument and nothing else
};

using ModeEntry = int (*)(const wchar_t* const* argv, int argc);

struct ModeRow {
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
// arguments are not all there. Each returns the process exit code.
const ModeRow kModes[] = {
    // -n VERSION SOURCE_FOLDER TARGET_FOLDER [NAME ...]
    {L"-n", Match::FirstTwo, 4,
     [](const wchar_t* const* argv, int argc) {
         return runMoveMode(argv[2], argv[3], argv[4], std::vector<std::wstring>(argv + 5, argv + argc));
     }},
    // -u PID VERSION ARCHIVE.zip TARGET_FOLDER
    {L"-u", Match::FirstTwo, 5,
     [](const wchar_t* const* argv, int) {
         return runUnpackMode(processIdFromText(argv[2]), argv[3], argv[4], argv[5]);
     }},
    // r COMMAND: the keyword "delete" (exactly) removes the autostart entry; any other
    // text is stored as its command.
    {L"r", Match::Whole, 2,
     [](const wchar_t* const* argv, int) {
         const std::wstring text = argv[2];
         setAutostartEntry(text, text != L"delete");
         return 0;
     }},
    // -c FOLDER: creates every missing folder along it.
    {L"-c", Match::FirstTwo, 2,
     [](const wchar_t* const* argv, int) {
         makeFolders(std::wstring(argv[2]));
         return 0;
     }},
    // -d FOLDER
    {L"-d", Match::FirstTwo, 2, [](const wchar_t* const* argv, int) { return runDeleteFolderMode(argv[2]); }},
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

const wchar_t* selectedMode(int argc, const wchar_t* const* argv)
{
    const ModeRow* row = selectedRow(argc, argv);
    return row ? row->selector : nullptr;
}

int runUpdateTool(int argc, const wchar_t* const* argv)
{
    if (const ModeRow* row = selectedRow(argc, argv))
        return row->run(argv, argc);
    printUsage();
    return 0;
}
