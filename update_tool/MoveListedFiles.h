#pragma once

#include "update_tool/UpdateStage.h"

#include <string>
#include <vector>

// Moves each name from `sourceFolder` to `targetFolder` (paths composed with
// composeLongPath) through `stage`: every name is first moved into the staging folder
// (across volumes a copy there, then the source deleted), then all are swapped in
// (see swapStagedFiles), missing sub-folders of the target created. The first name
// that cannot be taken, or a swap that fails, puts everything back: each taken file
// returns to its place in `sourceFolder` and the target is as it was. A name that
// would leave either folder is refused with "refusing %s: the name points outside the
// destination folder\n"; a folder on the way to a name, in either folder, that is a
// link stops the moves with "refusing %s: the folder %s is a link\n" (the name, the
// link below its folder), nothing moved through it. True when every name is in place
// (also for no names); the staging folder then still keeps what they replaced, for the
// caller to remove after it records the version. Prints nothing else, but for a swap.
bool moveListedFiles(const UpdateStage& stage, const std::wstring& version, const std::wstring& sourceFolder,
                     const std::wstring& targetFolder, const std::vector<std::wstring>& names);
