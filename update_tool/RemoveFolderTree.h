#pragma once

#include <string>

// Deletes the folder `path` and everything below it: lists breadth first, deletes
// each file as it is listed and removes the folders deepest first. Changes no
// attributes, so a read-only file stays, and with it every folder above it. Folders
// that cannot be listed and items that cannot be deleted are passed over.
// A junction or symbolic link to a folder, below the start or as the start itself,
// is never listed: it is removed as a link (see removeFolderLink), so nothing outside
// the tree is touched.
// An empty path does nothing. Always returns 0; prints nothing.
int removeFolderTree(const std::wstring& path);
