#pragma once

#include <windows.h>

// The tool's modes, chosen by its first argument. Each has one row in the mode table
// of CommandLine.cpp (selector, positions read, its function in Modes.h).
enum class Mode {
    Usage,            // none of the below, or too few arguments for the mode
    MoveFiles,        // "-n..."  version, source folder, target folder, names...
    Unpack,           // "-u..."  process id, version, zip archive, target folder
    Autostart,        // "r"      "delete" or the command to store
    CreateFolders,    // "-c..."  folder path
    DeleteFolderTree, // "-d..."  folder path
};

// The mode for `argv[1]`: a hyphen and the lower-case letter select a dash mode
// whatever follows; "r" must stand alone. A mode whose arguments are not all there
// gives Usage, so no mode reads past the argument vector.
Mode selectMode(int argc, const wchar_t* const* argv);

// A process id as its decimal text: leading white space and a sign are accepted,
// digits are read up to the first other character, and a text without leading
// digits gives 0 (no process).
DWORD processIdFromText(const wchar_t* text);

// The usage text, GBK bytes as stored, on standard output.
void printUsage();

// Runs the mode the arguments select; returns the process exit code: 0, or -1 when
// the unpack mode cannot enter its target folder.
int runUpdateTool(int argc, const wchar_t* const* argv);
