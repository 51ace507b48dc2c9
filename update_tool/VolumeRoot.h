#pragma once

#include <string>

// The folder that deleting `path` lists, as one string that both the root check and
// the walk take: the absolute \\?\ form that GetFullPathNameW resolves from the path
// as given (".", "..", trailing blanks and dots, the current drive for "\"), with a
// separator appended afterwards, never before: "T:\ " resolves to "T:\", while
// "T:\ \" would name a folder " " below it. "\??\" paths, which the file calls take
// verbatim, keep their spelling in the "\\?\" form. "" for an empty path or one the
// platform cannot resolve; the walk does nothing with it.
std::wstring deletionStart(const std::wstring& path);

// Whether deleting the folder `path`, whose deletionStart is `start`, would list the
// root of a drive or of a network share, and so empty everything the tool can reach
// with administrator rights. Judged on `start`, the string the walk lists: roots are "X:\",
// "\\server\share\" and the device forms "\\?\X:\", "\\.\X:\", "\\?\UNC\server\share\",
// "\\?\Volume{...}\", and the object-namespace forms that reach them
// ("\\?\Global\X:\", "\\?\GLOBALROOT\??\X:\", "\\?\GLOBALROOT\Device\Name\",
// "\\?\GLOBALROOT\Device\Mup\server\share\"). The drive-relative "X:" (the drive's
// current folder) counts as a root too. An empty path names nothing. Touches nothing.
bool namesVolumeRoot(const std::wstring& path, const std::wstring& start);

// Whether the folder `start` opens, as itself (a link is not followed), as the root
// of its volume: its path on the volume (GetFinalPathNameByHandleW) is "\". This
// catches spellings that no rule on the text can know, such as a volume's device name
// or a symbolic link in the object namespace. A folder that does not open is no root
// here; one that opens but cannot tell its path is taken for one.
bool opensAsVolumeRoot(const std::wstring& start);
