#pragma once

// Folders on disk, the same way in both programs: creating the folders along a path
// and walking a folder tree. Each operation has a narrow form (ANSI code page paths,
// as the launcher keeps them) and a wide form (UTF-16, as the update tool gets them)
// side by side, and both forms run one body.

#include "common/PathSeparator.h"

#include <windows.h>

#include <functional>
#include <string>

// Creates every missing folder along `path`; "\" and "/" both separate. Existing
// folders, and a drive prefix such as C:, are passed over. A path that begins with a
// separator (or is empty) has an empty first folder, which cannot be created: -1 and
// nothing is created. Returns 0 when every folder exists at the end, -1 at the first
// one that could not be created (the ones before it stay). Prints nothing.
// The narrow form works in the launcher's 200-byte path buffer: a path longer than
// 198 characters (199 with a trailing separator) is refused with -1 and nothing is
// created. The wide form takes any length the platform does.
int makeFolders(const std::string& path);
int makeFolders(const std::wstring& path);

// The extraction's folder creation: creates the folder `path` and every missing
// folder above it. A single trailing "/" is ignored. Returns 1 when done, 0 for an
// empty path or when a folder cannot be created because its parent is missing (with
// the message "couldn't create directory %s\n"), and -104 when memory runs out.
// Other failures, such as folders that exist, are passed over.
int makeDirectory(const char* path);

// Told about each item found below the start folder: its path (the listed folder, a
// backslash where the folder had no separator, and the item's name; no separator
// after it) and its attributes. Returning false ends the walk there.
using FolderVisitor = std::function<bool(const std::string& path, DWORD attributes)>;
using FolderVisitorW = std::function<bool(const std::wstring& path, DWORD attributes)>;

// Lists `folder` and the folders below it breadth first, each folder's items in the
// order the file system gives them, and tells `visit` about every item but "." and
// "..". Junctions and symbolic links to folders (see isFolderLink) are told about
// but never listed: a walk never leaves the tree through them. The start folder
// itself is listed as given; a folder that cannot be listed (one that does not exist
// included) contributes nothing. Returns false when `visit` ended the walk.
bool walkFolderTree(const std::string& folder, const FolderVisitor& visit);
bool walkFolderTree(const std::wstring& folder, const FolderVisitorW& visit);
