#pragma once

#include <string>
#include <vector>

// Moves each name from `sourceFolder` to `targetFolder` (paths composed with
// composePath), replacing an existing target and copying across volumes. Stops at
// the first name that cannot be moved: the names before it stay moved, the ones
// after it are not tried. Missing sub-folders of the target are not created.
// Returns 0 when every name was moved (also for no names), -1 otherwise. Prints
// nothing.
int moveListedFiles(const std::wstring& sourceFolder, const std::wstring& targetFolder,
                    const std::vector<std::wstring>& names);
