#pragma once

// Junctions and symbolic links to folders met while deleting a tree: they are
// removed as links and never listed, so nothing outside the tree is touched.

#include <windows.h>

#include <string>

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
