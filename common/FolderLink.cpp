#include "common/FolderLink.h"

#include "common/PathSeparator.h"
#include "common/UniqueHandle.h"

#include <cstdint>
#include <vector>

namespace {

BOOL readTagOf(HANDLE item, FILE_ATTRIBUTE_TAG_INFO* tag)
{
    return GetFileInformationByHandleEx(item, FileAttributeTagInfo, tag, sizeof(*tag));
}

bool removeOpenedLink(const UniqueFileHandle& link, LinkTagReader readTag = readTagOf)
{
    if (!link)
        return false;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!readTag(link.get(), &tag))
        return false;
    const bool isLink = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                        (tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT ||
                         tag.ReparseTag == IO_REPARSE_TAG_SYMLINK);
    if (!isLink)
        return false;
    // Initialised without naming its member: DeleteFile is also a macro of windows.h.
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(link.get(), FileDispositionInfo, &disposition,
                                      sizeof(disposition)) != FALSE;
}

constexpr DWORD kLinkAccess = DELETE | FILE_READ_ATTRIBUTES;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Without FILE_FLAG_OPEN_REPARSE_POINT the handle would be the link's target.
constexpr DWORD kOpenLinkItself = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;

template <typename String, typename Query>
bool namesFolderLink(const String& path, Query attributesOf)
{
    const String bare = withoutTrailingSeparators(path);
    if (bare.empty() || bare.back() == ':')
        return false;
    const DWORD attributes = attributesOf(bare.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && isFolderLink(attributes);
}

} // namespace

bool isFolderLink(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool isFolderLinkPath(const std::string& path)
{
    return namesFolderLink(path, GetFileAttributesA);
}

bool isFolderLinkPath(const std::wstring& path)
{
    return namesFolderLink(path, GetFileAttributesW);
}

bool removeFolderLink(const std::wstring& path)
{
    return removeFolderLink(path, readTagOf);
}

bool removeFolderLink(const std::wstring& path, LinkTagReader readTag)
{
    const UniqueFileHandle link(CreateFileW(path.c_str(), kLinkAccess, kShareAll, nullptr,
                                            OPEN_EXISTING, kOpenLinkItself, nullptr));
    return removeOpenedLink(link, readTag);
}

bool removeFolderLink(const std::string& path)
{
    const UniqueFileHandle link(CreateFileA(path.c_str(), kLinkAccess, kShareAll, nullptr,
                                            OPEN_EXISTING, kOpenLinkItself, nullptr));
    return removeOpenedLink(link);
}

namespace {

// FILE_LIST_DIRECTORY lets a walk list the folder through the handle itself.
constexpr DWORD kHoldAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// NB: no FILE_SHARE_DELETE: that is what keeps the held folder in its place.
constexpr DWORD kHoldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool isPlainFolder(HANDLE folder)
{
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(folder, FileAttributeTagInfo, &tag, sizeof(tag)))
        return false;
    return (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

} // namespace

std::wstring placeOf(HANDLE handle)
{
    // NB: not GetFinalPathNameByHandleW: wine's fails past MAX_PATH, and deep trees
    // are what the walk and the unpack meet. The name on the volume has no such limit.
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information))
        return {};
    constexpr std::size_t kNameBuffer = sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t);
    std::vector<std::uint64_t> buffer(kNameBuffer / sizeof(std::uint64_t) + 1);
    auto* name = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, name, static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t))))
        return {};
    wchar_t volume[9] = {};
    for (int i = 7; i >= 0; --i) {
        volume[i] = L"0123456789abcdef"[information.dwVolumeSerialNumber & 0xF];
        information.dwVolumeSerialNumber >>= 4;
    }
    return volume + std::wstring(name->FileName, name->FileNameLength / sizeof(wchar_t));
}

std::wstring placeBelow(const std::wstring& folderPlace, const std::wstring& name)
{
    return folderPlace + (!folderPlace.empty() && isSeparator(folderPlace.back()) ? L"" : L"\\") + name;
}

bool samePlace(const std::wstring& a, const std::wstring& b)
{
    return !a.empty() && CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

UniqueFileHandle holdFolder(const std::wstring& path, const std::wstring& expected)
{
    UniqueFileHandle folder(CreateFileW(path.c_str(), kHoldAccess, kHoldShare, nullptr, OPEN_EXISTING,
                                        kOpenLinkItself, nullptr));
    if (!folder || !isPlainFolder(folder.get()) || !samePlace(placeOf(folder.get()), expected))
        return nullptr;
    return folder;
}

UniqueFileHandle holdNamedFolder(const std::wstring& path, std::wstring& place)
{
    UniqueFileHandle folder(CreateFileW(path.c_str(), kHoldAccess, kHoldShare, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder)
        return nullptr;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(folder.get(), FileAttributeTagInfo, &tag, sizeof(tag)) ||
        !(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return nullptr;
    place = placeOf(folder.get());
    if (place.empty())
        return nullptr;
    return folder;
}

FolderChain holdFoldersBelow(const std::wstring& root, const std::wstring& rootPlace, const std::wstring& relative,
                             std::vector<UniqueFileHandle>& held, std::wstring& failed)
{
    std::wstring place = rootPlace;
    std::size_t start = 0;
    while (start < relative.size()) {
        std::size_t end = relative.find(L'\\', start);
        if (end == std::wstring::npos)
            end = relative.size();
        const std::wstring path = root + relative.substr(0, end);
        place = placeBelow(place, relative.substr(start, end - start));
        UniqueFileHandle folder = holdFolder(path, place);
        if (!folder) {
            const DWORD attributes = GetFileAttributesW(path.c_str());
            const DWORD error = GetLastError();
            const bool missing = attributes == INVALID_FILE_ATTRIBUTES &&
                                 (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND);
            if (missing || (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)))
                return FolderChain::Missing;
            failed = relative.substr(0, end);
            return FolderChain::Link;
        }
        held.push_back(std::move(folder));
        start = end + 1;
    }
    return FolderChain::Held;
}
