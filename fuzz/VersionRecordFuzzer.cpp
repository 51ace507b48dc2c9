// jsver.txt from arbitrary bytes, read through the real file path. Checked: load()
// never throws, a refused record leaves exactly the defaults (even over values an
// earlier load took), an accepted one names a single folder, and whatever load()
// accepts survives save() and a second load() unchanged.
#include "src/VersionRecord.h"

#include "FuzzCheck.h"
#include "common/PathSafety.h"
#include "common/VersionFolderName.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

std::string g_recordPath;    // this process's scratch record, rewritten per input
std::string g_earlierPath;   // a valid record with values other than the defaults

std::string scratchFile(const char* label)
{
    const char* folder = std::getenv("TMPDIR");
    std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/zorvik-fuzz-" + label + "-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
        std::perror("mkstemp");
        std::exit(1);
    }
    close(fd);
    return pattern;
}

void removeScratchFiles()
{
    std::remove(g_recordPath.c_str());
    std::remove(g_earlierPath.c_str());
}

void writeFile(const std::string& path, const void* data, size_t size)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
    FUZZ_CHECK(std::fclose(file) == 0);
}

bool loadReporting(VersionRecord& record, const std::string& path)
{
    try {
        return record.load(path);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "property broken: VersionRecord::load threw: %s\n", e.what());
        std::abort();
    }
}

bool hasDefaults(const VersionRecord& record)
{
    return record.getPlatform() == VersionRecord::kDefaultPlatform &&
           record.getType() == VersionRecord::kDefaultType && record.getVer() == VersionRecord::kDefaultVer;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_recordPath = scratchFile("record");
    g_earlierPath = scratchFile("earlier");
    static const char kEarlier[] = "{\"platform\":\"9\",\"type\":\"8\",\"ver\":\"77\"}\r\n";
    writeFile(g_earlierPath, kEarlier, sizeof(kEarlier) - 1);
    std::atexit(removeScratchFiles);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    writeFile(g_recordPath, data, size);

    VersionRecord fresh;
    const bool accepted = loadReporting(fresh, g_recordPath);
    FUZZ_CHECK(fresh.getPath() == g_recordPath);

    VersionRecord reused;
    FUZZ_CHECK(loadReporting(reused, g_earlierPath) && reused.getVer() == "77");
    FUZZ_CHECK(loadReporting(reused, g_recordPath) == accepted);
    FUZZ_CHECK(reused.getPlatform() == fresh.getPlatform() && reused.getType() == fresh.getType() &&
               reused.getVer() == fresh.getVer());

    if (!accepted) {
        FUZZ_CHECK(hasDefaults(fresh));
        return 0;
    }
    FUZZ_CHECK(isSafeFolderName(fresh.getVer()) && isVersionFolderName(fresh.getVer()));

    fresh.save();
    VersionRecord reread;
    if (!loadReporting(reread, g_recordPath)) {
        std::fprintf(stderr, "property broken: the saved record is refused on reading: %s\n", reread.getText().c_str());
        std::abort();
    }
    FUZZ_CHECK(reread.getPlatform() == fresh.getPlatform());
    FUZZ_CHECK(reread.getType() == fresh.getType());
    FUZZ_CHECK(reread.getVer() == fresh.getVer());
    return 0;
}
