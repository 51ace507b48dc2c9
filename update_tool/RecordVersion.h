#pragma once

#include <string>

// Writes `version` as the whole content of the version file `recordPath` (an
// installation's jsver.txt, after a move or an unpack), creating the file or emptying
// it first (other processes may keep it open for reading and writing; a record that
// is a link or a hard link is replaced by a new file renamed over it instead, so the
// file it leads to is never written): one byte per
// character, no byte-order mark, no line end. Characters up to U+00FF are written as
// the byte of the same value; the text ends before the first character above that.
// Give it a \\?\ path (versionFilePathIn) to reach past MAX_PATH. Returns 0; a file
// that cannot be opened or written whole prints "Error writing the version record %s\n"
// with `recordPath` and returns -1.
int recordVersion(const std::wstring& recordPath, const std::wstring& version);
