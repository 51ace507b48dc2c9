#pragma once

// Junctions and symbolic links to folders met while walking, deleting or writing into
// a tree: they are removed as links and never listed or written through, so nothing
// outside the tree is touched.

#include "common/UniqueHandle.h"

#include <windows.h>

#include <string>
#include <vector>

// True for the attributes of a folder that is a reparse point (a junction, a folder
// symbolic link or another kind of reparse point): a tree walk must not list it.
bool isFolderLink(DWORD attributes);

// True when the folder `path` is itself a folder link. It is asked about without its
// trailing separators, which could make the query look through the link; a bare
// drive ("C:") or an empty path is never one.
bool isFolderLinkPath(const std::string& path); // ANSI code page
bool isFolderLinkPath(const std::wstring& path);

// Removes the junction or folder symbolic link `path` itself, never what it points to,
// and returns true when it is gone. The link is opened as itself and must show the
// link's own tag before it is deleted: where the file system resolves it anyway (wine
// does so for Unix symbolic links), or for other kinds of reparse points, nothing is
// removed and the result is false.
bool removeFolderLink(const std::wstring& path);
bool removeFolderLink(const std::string& path); // ANSI code page

// For tests: the same, with the opened item's tag read through `readTag` instead of
// GetFileInformationByHandleEx, so that an ordinary folder can show a link's tag
// where no link opens as itself (wine).
using LinkTagReader = BOOL (*)(HANDLE item, FILE_ATTRIBUTE_TAG_INFO* tag);
bool removeFolderLink(const std::wstring& path, LinkTagReader readTag);

// Folders held while a walk or an unpack works in them. A check by name followed by a
// use by name leaves time to swap the folder for a link in between; a held folder
// cannot be swapped, because the handle shares reading and writing but not deletion,
// and renaming or removing the folder (or a folder above it) needs that.

// Where the open `handle` lies, as one text: its volume's serial number and its path
// on that volume; "" when it cannot tell. A link that the file system resolves anyway
// (wine does so for Unix symbolic links, which open as their target and carry no
// reparse tag) shows its target's place here, not the place where it was found.
std::wstring placeOf(HANDLE handle);

// The place of the item `name` in the folder whose place is `folderPlace`.
std::wstring placeBelow(const std::wstring& folderPlace, const std::wstring& name);

// True when `a` and `b` (placeOf texts) are the same place, letter case aside.
bool samePlace(const std::wstring& a, const std::wstring& b);

// Opens the folder `path` as itself (a link is not followed) and holds it. Empty when
// it does not open, is no folder or is a reparse point, or when its place is not
// `expected` (for the folder met below a held one, placeBelow of that one's place).
UniqueFileHandle holdFolder(const std::wstring& path, const std::wstring& expected);

// Opens the folder `path` that a caller named, following it if it is a link (the
// caller chose it), and holds it the same way; its place goes to `place`, the base
// for the places of the folders below it. Empty when it does not open as a folder or
// cannot tell its place.
UniqueFileHandle holdNamedFolder(const std::wstring& path, std::wstring& place);

enum class FolderChain {
    Held,    // every folder on the way is held
    Missing, // a folder on the way does not exist, or a file stands in its place (what
             // comes after it was not tried)
    Link,    // a folder on the way is a link or not where its parent puts it
};

// Holds, in `held`, each folder on the way from the folder `root` (a \\?\ path ending
// in a backslash, whose place is `rootPlace`) down through `relative` (folder names
// joined by backslashes; "" holds nothing): each opened as itself and checked with
// holdFolder against the place below the one before it. At a folder that fails,
// `failed` gets its path below `root`. Writing below the last one then cannot go
// through a link planted on the way, nor through one swapped in while they are held.
FolderChain holdFoldersBelow(const std::wstring& root, const std::wstring& rootPlace, const std::wstring& relative,
                             std::vector<UniqueFileHandle>& held, std::wstring& failed);
