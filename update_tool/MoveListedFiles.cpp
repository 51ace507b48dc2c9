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

} // namespace

int moveListedFiles(const std::wstring& sourceFolder, const std::wstring& targetFolder,
                    const std::vector<std::wstring>& names)
{
    for (const std::wstring& name : names) {
        const std::wstring source = composeLongPath(sourceFolder, name);
        const std::wstring target = composeLongPath(targetFolder, name);
        // Held until the file is moved, so that no folder on either way can be swapped
        // for a link meanwhile.
        std::vector<UniqueFileHandle> held;
        if (!holdFoldersOnTheWay(sourceFolder, source, name, held) ||
            !holdFoldersOnTheWay(targetFolder, target, name, held) || !moveOver(source, target))
            return -1;
    }
    return 0;
}
