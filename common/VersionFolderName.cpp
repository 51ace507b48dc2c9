#include "common/VersionFolderName.h"

#include "common/PathSafety.h"

bool isVersionFolderName(const std::string& ver)
{
    // Strict conversion fails exactly where the file system's lenient one would drop
    // or replace bytes, and so name another folder than the bytes checked first.
    return isSafeFolderName(ver) && convertsStrictlyFromAnsiCodePage(ver);
}
