#include "update_tool/RemoveFolderTree.h"

#include "common/FolderLink.h"
#include "common/UniqueHandle.h"

#include <windows.h>

#include <deque>
#include <vector>

namespace {

bool isSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

} // namespace

int removeFolderTree(const std::wstring& path)
{
    if (path.empty())
        return 0;

    std::wstring start = path;
    if (!isSeparator(start.back()))
        start += L'\\';

    // Listing the start through a link would empty the folder it points to. The link
    // is asked about without its trailing separator, which could make the query
    // look through it.
    std::wstring bare = path;
    while (!bare.empty() && isSeparator(bare.back()))
        bare.pop_back();
    if (!bare.empty() && bare.back() != L':') {
        const DWORD attributes = GetFileAttributesW(bare.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && isFolderLink(attributes)) {
            removeFolderLink(bare);
            return 0;
        }
    }

    std::deque<std::wstring> toList{start};
    std::vector<std::wstring> toRemove{start};

    while (!toList.empty()) {
        const std::wstring folder = std::move(toList.front());
        toList.pop_front();

        WIN32_FIND_DATAW found{};
        const UniqueFindHandle listing(FindFirstFileW((folder + L'*').c_str(), &found));
        if (!listing)
            continue;
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring item = folder + name;
            if (isFolderLink(found.dwFileAttributes)) {
                removeFolderLink(item);
            } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                toList.push_back(item + L'\\');
                toRemove.push_back(item + L'\\');
            } else {
                DeleteFileW(item.c_str());
            }
        } while (FindNextFileW(listing.get(), &found));
    }

    while (!toRemove.empty()) {
        RemoveDirectoryW(toRemove.back().c_str());
        toRemove.pop_back();
    }
    return 0;
}
