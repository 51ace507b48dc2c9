#include "common/FileSystem.h"

#include "common/FolderLink.h"
#include "common/UniqueHandle.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace {

// The launcher's path buffer, terminator included.
constexpr std::size_t kNarrowPathBuffer = 200;

// The A and W calls behind the one body of each operation.
template <typename Char>
struct Calls;

template <>
struct Calls<char> {
    static DWORD attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }
    static bool createFolder(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != FALSE; }
};

template <>
struct Calls<wchar_t> {
    // Through the \\?\ form, which reaches past MAX_PATH; an empty prefix stays empty
    // and fails as before.
    static DWORD attributes(const std::wstring& path) { return GetFileAttributesW(longPathForm(path).c_str()); }
    static bool createFolder(const std::wstring& path)
    {
        return CreateDirectoryW(longPathForm(path).c_str(), nullptr) != FALSE;
    }
};

template <typename Char>
int makeFoldersAlong(std::basic_string<Char> work)
{
    using Win32 = Calls<Char>;
    if (work.empty() || !isSeparator(work.back()))
        work += static_cast<Char>('/');
    for (std::size_t i = 0; i < work.size(); ++i) {
        if (!isSeparator(work[i]))
            continue;
        const std::basic_string<Char> prefix = work.substr(0, i);
        if (Win32::attributes(prefix) == INVALID_FILE_ATTRIBUTES && !Win32::createFolder(prefix))
            return -1;
    }
    return 0;
}

constexpr std::size_t kListingBuffer = 64 * 1024;

// Lists the held folder `folder` through its handle, not by name, and tells `each`
// about every entry but "." and "..": (name, attributes). False when `each` ended it.
template <typename Each>
bool listHeldFolder(HANDLE folder, const Each& each)
{
    // FILE_ID_BOTH_DIR_INFO records are 8-byte aligned within the buffer.
    std::vector<std::uint64_t> buffer(kListingBuffer / sizeof(std::uint64_t));
    while (GetFileInformationByHandleEx(folder, FileIdBothDirectoryInfo, buffer.data(),
                                        static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t)))) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
        for (;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
            const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L".." && !each(name, entry->FileAttributes))
                return false;
            if (entry->NextEntryOffset == 0)
                break;
            bytes += entry->NextEntryOffset;
        }
    }
    return true;
}

bool walk(const std::wstring& folder, const FolderVisitor& visit)
{
    struct Pending {
        std::wstring path;      // as the caller spelled it, ending in a backslash
        std::wstring place;     // where the system must place it: below its parent, by its name
    };
    std::wstring startPlace;
    UniqueFileHandle held = holdNamedFolder(folder, startPlace);
    if (!held)
        return true;
    std::deque<Pending> toList{
        {!folder.empty() && isSeparator(folder.back()) ? folder : folder + L'\\', startPlace}};
    bool first = true;
    while (!toList.empty()) {
        const Pending current = std::move(toList.front());
        toList.pop_front();
        // Checked again on entering, on the handle the listing goes through: the
        // parent's listing showed a folder, but it may have been swapped for a link
        // since. Such a folder is told about again, as a link, and never listed.
        if (!first)
            held = holdFolder(current.path, current.place);
        first = false;
        if (!held) {
            const std::wstring item = current.path.substr(0, current.path.size() - 1);
            if (!visit(item, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
                return false;
            continue;
        }
        const bool finished = listHeldFolder(held.get(), [&](const std::wstring& name, DWORD attributes) {
            const std::wstring item = current.path + name;
            if (!visit(item, attributes))
                return false;
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !isFolderLink(attributes))
                toList.push_back({item + L'\\', placeBelow(current.place, name)});
            return true;
        });
        held.reset();
        if (!finished)
            return false;
    }
    return true;
}

} // namespace

int makeFolders(const std::string& path)
{
    const bool endsInSeparator = !path.empty() && isSeparator(path.back());
    if (path.size() + (endsInSeparator ? 0 : 1) >= kNarrowPathBuffer)
        return -1;
    return makeFoldersAlong(path);
}

int makeFolders(const std::wstring& path)
{
    return makeFoldersAlong(path);
}

bool walkFolderTree(const std::wstring& folder, const FolderVisitor& visit)
{
    return walk(folder, visit);
}

std::wstring fullPath(const std::wstring& path)
{
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return {};
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size)
        return {};
    full.resize(length);
    return full;
}

std::wstring longPathForm(const std::wstring& path)
{
    if (path.empty())
        return {};
    const std::wstring full = fullPath(path);
    if (full.empty())
        return {};
    if (full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0)
        return full;
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}
