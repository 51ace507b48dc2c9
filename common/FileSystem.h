#pragma once

// Folders on disk, the same way in both programs: creating the folders along a path,
// walking a folder tree, and the absolute and long (\\?\) forms of a path. Paths are
// UTF-16; makeFolders alone has a narrow form too (ANSI code page, as the launcher
// keeps its paths), which runs the same body through the narrow calls. Text conversions between the two
// live in AnsiText.h.

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

// `path` made absolute by the platform (GetFullPathNameW, which also drops "." and
// resolves ".." components); "" when it cannot be.
std::wstring fullPath(const std::wstring& path);

// The absolute `\\?\` form of `path` (relative to the current directory or absolute,
// either separator, a UNC share too): every call made with it takes paths past
// MAX_PATH, up to 32767 characters. Like the platform, it drops "." and resolves ".."
// components and trims trailing dots and blanks from names. "" when the path cannot
// be made absolute.
std::wstring longPathForm(const std::wstring& path);

// Told about each item found below the start folder: its path (the listed folder, a
// backslash where the folder had no separator, and the item's name; no separator
// after it) and its attributes. Returning false ends the walk there.
using FolderVisitor = std::function<bool(const std::wstring& path, DWORD attributes)>;

// Lists `folder` and the folders below it breadth first, each folder's items in the
// order the file system gives them, and tells `visit` about every item but "." and
// "..". Junctions and symbolic links to folders (see isFolderLink) are told about
// but never listed: a walk never leaves the tree through them. Each folder is listed
// through a handle held while it is listed (see holdFolder), which it opens as itself
// and checks first: a folder whose place (see placeOf) is not below its parent by its
// name, or that is a reparse point by then, is told about a second time, with the
// attributes of a folder link, and not listed. The start folder itself is listed as
// given (a link there is followed: the caller named it); a folder that cannot be
// listed (one that does not exist included) contributes nothing. Returns false when
// `visit` ended the walk. Give it a longPathForm to reach items past MAX_PATH: the
// items come in the same form.
bool walkFolderTree(const std::wstring& folder, const FolderVisitor& visit);
