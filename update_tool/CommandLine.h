#pragma once

#include <windows.h>

// The selector of the mode `argv[1]` names ("-n", "-u", "r", "-c" or "-d"; the mode
// table is in Modes.cpp): a hyphen and the lower-case letter select a dash mode
// whatever follows; "r" must stand alone. Null, for the usage, when none matches or
// the mode's arguments are not all there, so no mode reads past the argument vector.
const wchar_t* selectedMode(int argc, const wchar_t* const* argv);

// A process id as its decimal text: leading white space and a sign are accepted,
// digits are read up to the first other character, and a text without leading
// digits gives 0 (no process).
DWORD processIdFromText(const wchar_t* text);

// The usage text, GBK bytes as stored, on standard output.
void printUsage();

// Runs the mode the arguments select (Modes.cpp); returns the process exit code: 0, or -1 when
// the unpack mode cannot enter its target folder.
int runUpdateTool(int argc, const wchar_t* const* argv);
