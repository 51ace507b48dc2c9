#include "update_tool/Modes.h"

#include "update_tool/ConsoleText.h"
#include "update_tool/RemoveFolderTree.h"
#include "update_tool/VolumeRoot.h"

#include <cstdio>

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
        std::printf("%s", consoleText(L"Not deleting " + path + L": the root of a drive or share\n").c_str());
        return 0;
    }
    removeFolderTreeAt(start);
    return 0;
}
