#pragma once

#include "common/UniqueHandle.h"

#include <string>

namespace UpdateProgram {

// Extracts every entry of the opened archive `archive` (empty: none could be opened)
// into `folder`, which becomes the process's current directory for the extraction and
// stays so. Prints the extraction's lines. True only when the archive was read to its
// end and every entry written whole.
bool extractArchiveInto(const UniqueFileHandle& archive, const std::wstring& folder);

enum class UnpackResult {
    Complete,         // every entry was staged and swapped in
    Incomplete,       // the target is as it was: the archive could not be opened, an
                      // entry was not staged whole, or the swap was undone
    TargetNotEntered, // the target folder cannot be made the current directory
};

// The whole update of `targetFolder` by `archivePath` but the runtime's start and the
// record: prints a header line, opens the archive (openHeldArchive), makes the target
// the current directory and stays there, finishes or undoes what a killed run left
// (recoverUnfinishedUpdate), when `signedOnly` refuses an archive whose signature does
// not hold (archiveSignatureHolds), stages every entry beside the target and swaps them
// in.
// When the target cannot be entered it prints "Error changing into %s, aborting\n"
// and does nothing more; the caller ends the run. After Complete the staging folder
// still keeps the replaced files until finishUnpack: a kill before the version is
// recorded is finished, and the version recorded, by the next run.
UnpackResult unzipFiles(const std::wstring& archivePath, const std::wstring& targetFolder,
                        const std::wstring& version, bool signedOnly);

// Removes the staging folder of the current directory's update after Complete.
void finishUnpack();

} // namespace UpdateProgram
