#pragma once

// Extraction of one zip entry below the process's current directory, shared by the
// launcher and the update tool. Every step prints a short line on standard output.

#include "unzip.h"

// What became of one entry, beyond the status code (which is 0 for skipped entries
// so that a walk goes on past them).
enum class EntryOutcome {
    Extracted, // the folder exists, or the file was written in full and its CRC matched
    Skipped,   // refused or over-long name, or an output file that could not be created
    Failed,    // the reader or the writer failed; the status code says how
};

// Extracts the archive's current entry into the current directory under its full
// relative name, creating missing folders and overwriting an existing file without
// asking; a file takes the entry's time as its creation and last-write time.
// Returns 0 or the reader's negative status (-1 for a write failure, -104 when memory
// runs out, -105 for a CRC mismatch, which comes after the file was written in full,
// -103 when the data ends before the size the entry declares: what came is written,
// but it is not the whole file and its CRC could not be checked).
// Refuses, with a message and 0, a name longer than 255 bytes (never read beyond
// its 256-byte buffer) and a name that would leave the current directory (see
// isSafeRelativePath): nothing is written for such an entry.
int extractEntry(unzFile archive);
int extractEntry(unzFile archive, EntryOutcome& outcome);
