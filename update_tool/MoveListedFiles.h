#pragma once

#include <string>
#include <vector>

// Moves each name from `sourceFolder` to `targetFolder` (paths composed with
// composeLongPath), replacing an existing target by a rename (across volumes a copy
// beside it renamed over it), so a hard link or file link in its place keeps its
// target. Stops at the first name that cannot be moved: the names before it stay
// moved, the ones after it are not tried. Missing sub-folders of the target are not
// created. A folder on the way to a name, in either folder, that is a link (see
// holdFolder) stops the moves too, with "refusing %s: the folder %s is a link\n"
// (the name, the link below its folder); nothing is moved through it. Returns 0 when
// every name was moved (also for no names), -1 otherwise. Prints nothing else.
int moveListedFiles(const std::wstring& sourceFolder, const std::wstring& targetFolder,
                    const std::vector<std::wstring>& names);
