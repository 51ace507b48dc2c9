#pragma once

#include <string>

namespace UpdateProgram {

enum class UnpackResult {
    Complete,         // the archive was opened and every entry written
    Incomplete,       // the archive could not be opened, or an entry was not written whole
    TargetNotEntered, // the target folder cannot be made the current directory
};

// Opens the zip archive `archivePath` (UTF-16, so any user folder name works; a
// relative path resolves against the current directory at the call), makes
// `targetFolder` the process's current directory and stays there, and extracts every
// entry below it. Prints a header line and the extraction's lines. When the target
// cannot be entered it prints "Error changing into %s, aborting\n" and extracts
// nothing; the caller ends the run.
UnpackResult unzipFiles(const std::wstring& archivePath, const std::wstring& targetFolder);

} // namespace UpdateProgram
