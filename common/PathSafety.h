#pragma once

// Checks for names that come from outside (archive entries, server answers, record
// files) before they touch the disk. Narrow text is checked in the ANSI code page,
// byte by byte, wide text unit by unit; nothing here looks at the file system.

#include <string_view>

// True when `name` can stand as exactly one folder name on Windows: not empty, at most
// 255 bytes, none of \ / : * ? " < > | and no control character, not "." or "..", no
// trailing dot or space (Windows would silently drop it and name another folder),
// and not a device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9) with or
// without an extension, in any letter case.
bool isSafeFolderName(std::string_view name);

// True when `path`, a relative name with "/" or "\" separators such as an archive
// entry's, stays below the folder it is resolved in. Refused: the empty name, a leading
// separator (root of the drive, UNC and device paths), any ":" (drive letters and
// alternate data streams), any component made only of dots and spaces other than "."
// (".." and the forms Windows trims down to it), and a device name in any component.
bool isSafeRelativePath(std::string_view path);
// The same rule for a name already decoded to UTF-16 (COM and LPT with U+00B9, U+00B2,
// U+00B3 are devices too).
bool isSafeRelativePath(std::wstring_view path);
