#include "update_tool/Modes.h"

#include "update_tool/ConsoleText.h"
#include "update_tool/RemoveFolderTree.h"
#include "update_tool/VolumeRoot.h"

#include <cstdio>

int runDeleteFolderMode(const std::wstring& path)
{
    // The tool runs with administrator rights: a root, "\" included, would lose
    // everything below it that the walk can reach.
    if (namesVolumeRoot(path)) {
        std::printf("%s", consoleText(L"Not deleting " + path + L": the root of a drive or share\n").c_str());
        return 0;
    }
    removeFolderTree(path);
    return 0;
}
