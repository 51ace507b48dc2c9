#include "common/FolderLink.h"

#include "common/PathSeparator.h"
#include "common/UniqueHandle.h"

namespace {

bool removeOpenedLink(const UniqueFileHandle& link)
{
    if (!link)
        return false;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(link.get(), FileAttributeTagInfo, &tag, sizeof(tag)))
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
    const UniqueFileHandle link(CreateFileW(path.c_str(), kLinkAccess, kShareAll, nullptr,
                                            OPEN_EXISTING, kOpenLinkItself, nullptr));
    return removeOpenedLink(link);
}

bool removeFolderLink(const std::string& path)
{
    const UniqueFileHandle link(CreateFileA(path.c_str(), kLinkAccess, kShareAll, nullptr,
                                            OPEN_EXISTING, kOpenLinkItself, nullptr));
    return removeOpenedLink(link);
}
