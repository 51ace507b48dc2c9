#include "update_tool/RemoveFolderTree.h"

#include "common/FileSystem.h"
#include "common/FolderLink.h"
#include "update_tool/VolumeRoot.h"

#include <windows.h>

#include <vector>

int removeFolderTreeAt(const std::wstring& start)
{
    if (start.empty())
        return 0;

    // Listing the start through a link would empty the folder it points to.
    if (isFolderLinkPath(start)) {
        removeFolderLink(withoutTrailingSeparators(start));
        return 0;
    }

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

int removeFolderTree(const std::wstring& path)
{
    return removeFolderTreeAt(deletionStart(path));
}
