#include "update_tool/Modes.h"

#include "update_tool/RemoveFolderTree.h"

int runDeleteFolderMode(const std::wstring& path)
{
    removeFolderTree(path);
    return 0;
}
