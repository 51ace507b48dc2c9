#pragma once

#include <string>

// Whether deleting the folder `path` with removeFolderTree would start at the root of
// a drive or of a network share, and so empty everything the tool can reach with
// administrator rights. Judged on the folder the walk lists (the path with a
// separator appended, so "C:" counts as "C:\") as GetFullPathNameW resolves it, so
// that ".", "..", forward and repeated separators and the current drive ("\", "/")
// count as the platform reads them. Roots are "X:\", "\\server\share\" and the device
// forms "\\?\X:\", "\\.\X:\", "\??\X:\", "\\?\UNC\server\share\" and "\\?\Volume{...}\".
// An empty path names nothing (the walk does nothing with it). Touches nothing.
bool namesVolumeRoot(const std::wstring& path);
