#pragma once

// The entry-by-entry walk over a whole archive that both programs run.

#include "ioapi.h"
#include "unzip.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <type_traits>

// The file functions both programs open their archives with (unzOpen2_64). minizip's
// own seek narrows every offset to z_off_t, a 32-bit long on Windows, so an archive
// past 2 GiB could not even be opened: its directory lies beyond the narrowed offset.
// These seek and tell in 64 bits. `open` replaces minizip's fopen64 opener when given.
zlib_filefunc64_def archiveFileFunctions(open64_file_func open = nullptr);

// Owns an archive opened with unzOpen, unzOpen64 or unzOpen2_64; closing it also
// closes an entry left open.
struct ArchiveCloser {
    void operator()(unzFile archive) const noexcept { unzClose(archive); }
};
using UniqueArchive = std::unique_ptr<std::remove_pointer_t<unzFile>, ArchiveCloser>;

struct WalkOutcome {
    std::uint64_t entryCount = 0; // as the archive's directory gives it
    std::uint64_t extracted = 0;  // entries written whole (EntryOutcome::Extracted)
    int stopStatus = 0;           // the status that ended the walk early; 0 if it reached the end

    // True when the archive could be read to its end and every entry was written.
    bool complete() const { return stopStatus == 0 && extracted == entryCount; }
};

// Told after each entry that did not stop the walk: (entries done, entry count).
using EntryProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Extracts every entry of `archive`, which must be positioned on its first entry,
// into the current directory with extractEntry. An entry that returns a non-zero
// status (one that was not written whole, or a broken archive) ends the walk, and the
// entries after it are not extracted. A null archive, or one whose directory cannot be read, extracts nothing
// and prints "error %d with zipfile in unzGetGlobalInfo \n". An empty archive never
// calls `afterEntry`.
WalkOutcome extractEntries(unzFile archive, const EntryProgress& afterEntry = {});
