#include "common/ArchiveWalk.h"

#include "common/ZipExtraction.h"

#include <cstdio>

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
