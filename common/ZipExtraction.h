#pragma once

// Extraction of one zip entry below the process's current directory, shared by the
// launcher and the update tool. Every step prints a short line on standard output.

#include "unzip.h"

// What became of one entry, beyond the status code.
enum class EntryOutcome {
    Extracted, // the folder exists, or the file was written in full and its CRC matched
    Failed,    // the entry was not written whole; the status code says how
};

// Extracts the archive's current entry into the current directory under its full
// relative name, creating every missing folder along it (a folder entry's own too) and
// overwriting an existing file without asking; a file takes the entry's time as its
// creation and last-write time. The name is UTF-8 when the entry's flag bit 11 says
// so, else in the ANSI code page; it has no length limit below the platform's long
// paths (written through the \\?\ form, 32767 units in all).
// Returns 0 or the reader's negative status (-104 when memory runs out, -105 for a CRC
// mismatch, which comes after the file was written in full, -103 when the data ends
// before the size the entry declares: what came is written, but it is not the whole
// file and its CRC could not be checked). -1 means the entry was not written: its
// file or folder could not be created, or its file not written in full. An existing
// folder is fine for a folder entry.
// Refuses, with a line that names the entry and -1, a name flagged as UTF-8 whose bytes
// are not, and a name that would leave the current directory (see isSafeRelativePath):
// nothing is written for such an entry, and a package that holds one is not whole. The
// same for an entry below a folder that is a link (see holdFoldersBelow), with
// "refusing %s: the folder %s is a link\n" (the entry, the link below the current
// directory): the folders on the way are held while the entry is written. A file is
// written as a new file beside its place and renamed over an existing one, so a hard
// link or file link there keeps its target as it was.
int extractEntry(unzFile archive);
int extractEntry(unzFile archive, EntryOutcome& outcome);
