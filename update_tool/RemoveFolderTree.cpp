#include "update_tool/RemoveFolderTree.h"

#include "common/FileSystem.h"
#include "common/FolderLink.h"

#include <windows.h>

#include <vector>

int removeFolderTree(const std::wstring& given)
{
    // In the \\?\ form, which reaches the files of deep trees past MAX_PATH.
    const std::wstring path = longPathForm(given);
    if (path.empty())
        return 0;

    // Listing the start through a link would empty the folder it points to.
    if (isFolderLinkPath(path)) {
        removeFolderLink(withoutTrailingSeparators(path));
        return 0;
    }

    std::wstring start = path;
    if (!isSeparator(start.back()))
        start += L'\\';
    // Files go as they are listed, links as themselves; folders wait for the end, so
    // that the deepest go first and the start folder last.
    std::vector<std::wstring> toRemove{start};
    walkFolderTree(start, [&](const std::wstring& item, DWORD attributes) {
        if (isFolderLink(attributes))
            removeFolderLink(item);
        else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            toRemove.push_back(item + L'\\');
        else
            DeleteFileW(item.c_str());
        return true;
    });

    while (!toRemove.empty()) {
        RemoveDirectoryW(toRemove.back().c_str());
        toRemove.pop_back();
    }
    return 0;
}
