#include "update_tool/VolumeRoot.h"

#include "common/FileSystem.h"
#include "common/PathSeparator.h"
#include "common/UniqueHandle.h"

#include <windows.h>

#include <cwctype>
#include <vector>

namespace {

// "\\?\", "\\.\" and "\??\" in either separator: paths the file calls take past
// the usual resolution, so GetFullPathNameW's answer is not what they open ("\??\C:\"
// would resolve below the current drive, yet it opens C:\ itself).
bool hasDevicePrefix(const std::wstring& path)
{
    if (path.size() < 4 || !isSeparator(path[0]) || !isSeparator(path[3]))
        return false;
    return (isSeparator(path[1]) && (path[2] == L'?' || path[2] == L'.')) ||
           (path[1] == L'?' && path[2] == L'?');
}

// The components of `path` from `from` on, with "." dropped and ".." taking the one
// before it away: a generous reading, so a spelling the platform might normalise
// cannot hide a root.
std::vector<std::wstring> componentsFrom(const std::wstring& path, std::size_t from)
{
    std::vector<std::wstring> components;
    std::wstring current;
    for (std::size_t i = from; i <= path.size(); ++i) {
        if (i < path.size() && !isSeparator(path[i])) {
            current += path[i];
            continue;
        }
        if (current == L"..") {
            if (!components.empty())
                components.pop_back();
        } else if (!current.empty() && current != L".") {
            components.push_back(current);
        }
        current.clear();
    }
    return components;
}

bool isNamed(const std::wstring& component, const wchar_t* name)
{
    std::size_t i = 0;
    for (; i < component.size() && name[i] != L'\0'; ++i) {
        if (std::towupper(component[i]) != std::towupper(name[i]))
            return false;
    }
    return i == component.size() && name[i] == L'\0';
}

// The components after a device prefix, with the object-namespace detours that lead
// back to the usual device names taken away: "GLOBALROOT\??", "GLOBALROOT\GLOBAL??"
// and "GLOBALROOT\DosDevices" are where "\\?\" itself leads, and "Global" names the
// same place again. True when what is left names a whole volume or share.
bool isDeviceRoot(std::vector<std::wstring> components)
{
    auto drop = [&components](std::size_t count) {
        components.erase(components.begin(), components.begin() + static_cast<std::ptrdiff_t>(count));
    };
    if (!components.empty() && isNamed(components.front(), L"GLOBALROOT")) {
        drop(1);
        if (components.empty())
            return true; // the whole object namespace
        const std::wstring& next = components.front();
        if (isNamed(next, L"??") || isNamed(next, L"GLOBAL??") || isNamed(next, L"DosDevices")) {
            drop(1);
        } else if (isNamed(next, L"Device")) {
            drop(1);
            // The network redirectors hold servers and their shares; any other device
            // is a volume by itself.
            if (!components.empty() && (isNamed(components.front(), L"Mup") ||
                                        isNamed(components.front(), L"LanmanRedirector")))
                return components.size() <= 3;
            return components.size() <= 1;
        } else {
            // Another object (\SystemRoot, a volume's GUID link...): a root when nothing
            // follows it, as for a drive.
            return components.size() <= 1;
        }
    }
    while (!components.empty() && isNamed(components.front(), L"Global"))
        drop(1);
    if (!components.empty() && isNamed(components.front(), L"UNC"))
        return components.size() <= 3; // UNC, server, share
    return components.size() <= 1;    // the drive or volume
}

bool isDriveLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// "X:" with at most blanks after it: the drive's current folder, refused as the drive.
bool isBareDrive(const std::wstring& path)
{
    if (path.size() < 2 || !isDriveLetter(path[0]) || path[1] != L':')
        return false;
    return path.find_first_not_of(L' ', 2) == std::wstring::npos;
}

} // namespace

std::wstring deletionStart(const std::wstring& path)
{
    if (path.empty())
        return {};
    std::wstring start;
    // The file calls pass "\??\" paths through without resolving them, and so does
    // the walk; GetFullPathNameW would place them below the current drive's root.
    if (path.size() >= 4 && path.compare(0, 4, L"\\??\\") == 0)
        start = L"\\\\?\\" + path.substr(4);
    else
        start = longPathForm(path);
    if (!start.empty() && !isSeparator(start.back()))
        start += L'\\';
    return start;
}

namespace {

bool isVolumeRootStart(const std::wstring& start)
{
    if (start.empty())
        return false;
    if (hasDevicePrefix(start))
        return isDeviceRoot(componentsFrom(start, 4));
    // Not resolved to the device form (longPathForm gives it for every other path):
    // judged as spelled.
    if (start.size() >= 2 && isSeparator(start[0]) && isSeparator(start[1]))
        return componentsFrom(start, 2).size() <= 2; // server, share
    if (start.size() >= 2 && isDriveLetter(start[0]) && start[1] == L':')
        return componentsFrom(start, 2).empty();
    return false;
}

} // namespace

bool namesVolumeRoot(const std::wstring& path, const std::wstring& start)
{
    return isBareDrive(path) || isVolumeRootStart(start);
}

bool opensAsVolumeRoot(const std::wstring& start)
{
    const UniqueFileHandle folder(CreateFileW(start.c_str(), FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING,
                                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder)
        return false;
    wchar_t onVolume[4] = {};
    const DWORD length = GetFinalPathNameByHandleW(folder.get(), onVolume, 4, VOLUME_NAME_NONE);
    // A longer answer is reported as the size it needs (more than the buffer): no root.
    if (length >= 4)
        return false;
    return length == 0 || std::wstring(onVolume, length) == L"\\";
}
