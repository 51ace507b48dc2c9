#include "common/VersionFolderName.h"

#include "common/AnsiText.h"
#include "common/PathSafety.h"

namespace {

// "temp71" is the staging folder of version 71, which a failed pass leaves half
// written; the file system sees "TEMP71" as the same folder.
bool namesAStagingFolder(const std::string& ver)
{
    static const char kPrefix[] = "temp";
    if (ver.size() < sizeof(kPrefix) - 1)
        return false;
    for (size_t i = 0; i + 1 < sizeof(kPrefix); ++i) {
        const char c = ver[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kPrefix[i])
            return false;
    }
    return true;
}

} // namespace

bool isVersionFolderName(const std::string& ver)
{
    // Strict conversion fails exactly where the file system's lenient one would drop
    // or replace bytes, and so name another folder than the bytes checked first.
    return isSafeFolderName(ver) && !namesAStagingFolder(ver) && convertsStrictlyFromAnsiCodePage(ver);
}
