#include "update_tool/MoveListedFiles.h"

#include "common/FileSystem.h"
#include "common/FolderLink.h"
#include "update_tool/ComposedPath.h"
#include "update_tool/ConsoleText.h"

#include <windows.h>

#include <cstdio>

namespace {

// The folder `folder` in the \\?\ form with a backslash at its end, as its items'
// composed paths begin.
std::wstring asRoot(const std::wstring& folder)
{
    std::wstring root = composeLongPath(folder, L"");
    if (!root.empty() && root.back() != L'\\')
        root += L'\\';
    return root;
}

// Holds the folders from `folder` down to the one that holds `path` (a composed path
// below it). False, after the line naming `name` and the link, when one of them is a
// link; a folder that is missing is left to the move, which then fails.
bool holdFoldersOnTheWay(const std::wstring& folder, const std::wstring& path, const std::wstring& name,
                         std::vector<UniqueFileHandle>& held)
{
    const std::wstring root = asRoot(folder);
    const std::size_t parentEnd = path.find_last_of(L'\\');
    if (root.empty() || parentEnd == std::wstring::npos || parentEnd < root.size() ||
        path.compare(0, root.size(), root) != 0)
        return true; // the folder's own items, or a name the caller pointed elsewhere
    std::wstring rootPlace;
    UniqueFileHandle rootFolder = holdNamedFolder(root, rootPlace);
    if (!rootFolder)
        return true;
    held.push_back(std::move(rootFolder));
    std::wstring link;
    if (holdFoldersBelow(root, rootPlace, path.substr(root.size(), parentEnd - root.size()), held, link) !=
        FolderChain::Link)
        return true;
    std::printf("%s", consoleText(L"refusing " + name + L": the folder " + link + L" is a link\n").c_str());
    return false;
}

// A rename replaces the target's name, never its data. Across volumes the file is
// copied to a new file beside the target and that is renamed over it: a copy onto the
// old file would write through a hard link planted there.
bool moveOver(const std::wstring& source, const std::wstring& target)
{
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    if (GetLastError() != ERROR_NOT_SAME_DEVICE)
        return false;
    const std::wstring folder = target.substr(0, target.find_last_of(L'\\') + 1);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::wstring replacement = folder + L"~move" + std::to_wstring(attempt) + L".tmp";
        if (!CopyFileW(source.c_str(), replacement.c_str(), TRUE)) {
            if (GetLastError() == ERROR_FILE_EXISTS)
                continue;
            return false;
        }
        if (!MoveFileExW(replacement.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            DeleteFileW(replacement.c_str());
            return false;
        }
        DeleteFileW(source.c_str());
        return true;
    }
    return false;
}

// The name's path below `root` (a \\?\ folder ending in a backslash), or "" when
// `path` does not lie below it.
std::wstring nameBelow(const std::wstring& root, const std::wstring& path)
{
    return path.size() > root.size() && path.compare(0, root.size(), root) == 0 ? path.substr(root.size()) : L"";
}

struct Taken {
    std::wstring source;   // where it was
    std::wstring incoming; // where it waits in the staging folder
};

void putBackTaken(const std::vector<Taken>& taken)
{
    for (auto file = taken.rbegin(); file != taken.rend(); ++file)
        moveOver(file->incoming, file->source);
}

// Moves `name` into the staging folder; false after its line, if it has one.
bool take(const UpdateStage& stage, const std::wstring& sourceFolder, const std::wstring& targetFolder,
          const std::wstring& name, std::vector<Taken>& taken)
{
    const std::wstring source = composeLongPath(sourceFolder, name);
    const std::wstring relative = nameBelow(stage.target, composeLongPath(targetFolder, name));
    if (relative.empty() || nameBelow(asRoot(sourceFolder), source).empty()) {
        const std::wstring line = L"refusing " + name + L": the name points outside the destination folder\n";
        std::printf("%s", consoleText(line).c_str());
        return false;
    }
    // Held until the file is moved, so that no folder on the way can be swapped for a
    // link meanwhile.
    std::vector<UniqueFileHandle> held;
    if (!holdFoldersOnTheWay(sourceFolder, source, name, held))
        return false;
    const std::wstring incoming = stage.incoming() + relative;
    for (std::size_t end = 0; (end = relative.find(L'\\', end + 1)) != std::wstring::npos;)
        CreateDirectoryW((stage.incoming() + relative.substr(0, end)).c_str(), nullptr);
    if (!moveOver(source, incoming))
        return false;
    taken.push_back({source, incoming});
    return true;
}

} // namespace

bool moveListedFiles(const UpdateStage& stage, const std::wstring& version, const std::wstring& sourceFolder,
                     const std::wstring& targetFolder, const std::vector<std::wstring>& names)
{
    if (!openStage(stage, version, targetFolder))
        return false;
    std::vector<Taken> taken;
    bool whole = true;
    for (std::size_t i = 0; whole && i < names.size(); ++i)
        whole = take(stage, sourceFolder, targetFolder, names[i], taken);
    const SwapOutcome swap = whole ? swapStagedFiles(stage, version) : SwapOutcome::Undone;
    if (swap == SwapOutcome::Undone) {
        putBackTaken(taken);
        removeStage(stage);
    }
    return swap == SwapOutcome::Swapped;
}
