#pragma once

#include <string>

// Deletes the folder `start` and everything below it: lists breadth first, deletes
// each file as it is listed and removes the folders deepest first. `start` is the
// folder exactly as the walk lists it, deletionStart of the path the caller was given
// (see VolumeRoot.h), so that what a root check judged is what is deleted. Changes no
// attributes, so a read-only file stays, and with it every folder above it. Folders
// that cannot be listed and items that cannot be deleted are passed over.
// A junction or symbolic link to a folder, below the start or as the start itself,
// is never listed: it is removed as a link (see removeFolderLink), so nothing outside
// the tree is touched.
// An empty start does nothing. Always returns 0; prints nothing.
int removeFolderTreeAt(const std::wstring& start);

// removeFolderTreeAt(deletionStart(path)), with no root check.
int removeFolderTree(const std::wstring& path);
