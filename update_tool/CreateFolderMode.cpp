#include "update_tool/Modes.h"

#include "update_tool/MakeFolders.h"

int runCreateFolderMode(const std::wstring& path)
{
    makeFolders(path);
    return 0;
}
