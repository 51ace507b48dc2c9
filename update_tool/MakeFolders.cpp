#include "update_tool/MakeFolders.h"

#include <windows.h>

namespace {

bool isSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

} // namespace

int makeFolders(const std::wstring& path)
{
    std::wstring work = path;
    if (work.empty() || !isSeparator(work.back()))
        work += L'/';

    for (std::size_t i = 0; i < work.size(); ++i) {
        if (!isSeparator(work[i]))
            continue;
        const std::wstring prefix = work.substr(0, i);
        if (GetFileAttributesW(prefix.c_str()) == INVALID_FILE_ATTRIBUTES &&
            !CreateDirectoryW(prefix.c_str(), nullptr))
            return -1;
    }
    return 0;
}
