#include "update_tool/Modes.h"

#include "common/FileSystem.h"

int runCreateFolderMode(const std::wstring& path)
{
    makeFolders(path);
    return 0;
}
