#include "common/ArchiveWalk.h"

#include "common/ZipExtraction.h"

#include <cstdint>
#include <cstdio>

namespace {

long ZCALLBACK seekArchive(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    int whence = SEEK_SET;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: whence = SEEK_SET; break;
    case ZLIB_FILEFUNC_SEEK_CUR: whence = SEEK_CUR; break;
    case ZLIB_FILEFUNC_SEEK_END: whence = SEEK_END; break;
    default: return -1;
    }
    // Offsets past 2^63 are no file position; minizip passes them from hostile headers.
    if (offset > static_cast<ZPOS64_T>(INT64_MAX))
        return -1;
    return _fseeki64(static_cast<std::FILE*>(stream), static_cast<long long>(offset), whence) == 0 ? 0 : -1;
}

ZPOS64_T ZCALLBACK tellArchive(voidpf, voidpf stream)
{
    return static_cast<ZPOS64_T>(_ftelli64(static_cast<std::FILE*>(stream)));
}

} // namespace

zlib_filefunc64_def archiveFileFunctions(open64_file_func open)
{
    zlib_filefunc64_def functions{};
    fill_fopen64_filefunc(&functions);
    if (open)
        functions.zopen64_file = open;
    functions.zseek64_file = seekArchive;
    functions.ztell64_file = tellArchive;
    return functions;
}

WalkOutcome extractEntries(unzFile archive, const EntryProgress& afterEntry)
{
    WalkOutcome outcome;

    unz_global_info64 global{};
    const int globalStatus = unzGetGlobalInfo64(archive, &global);
    if (globalStatus != UNZ_OK) {
        std::printf("error %d with zipfile in unzGetGlobalInfo \n", globalStatus);
        outcome.stopStatus = globalStatus;
        return outcome;
    }
    outcome.entryCount = global.number_entry;

    for (std::uint64_t i = 0; i < outcome.entryCount; ++i) {
        EntryOutcome entry = EntryOutcome::Failed;
        const int status = extractEntry(archive, entry);
        if (status != UNZ_OK) {
            outcome.stopStatus = status;
            break;
        }
        if (entry == EntryOutcome::Extracted)
            ++outcome.extracted;
        if (afterEntry)
            afterEntry(i + 1, outcome.entryCount);

        if (i + 1 < outcome.entryCount) {
            const int next = unzGoToNextFile(archive);
            if (next != UNZ_OK) {
                std::printf("error %d with zipfile in unzGoToNextFile\n", next);
                outcome.stopStatus = next;
                break;
            }
        }
    }
    return outcome;
}
