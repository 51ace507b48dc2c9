#include "update_tool/VolumeRoot.h"

#include "common/FileSystem.h"

#include <windows.h>

#include <cwctype>
#include <vector>

namespace {

bool isSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

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

bool isUncMarker(const std::wstring& component)
{
    return component.size() == 3 && std::towupper(component[0]) == L'U' &&
           std::towupper(component[1]) == L'N' && std::towupper(component[2]) == L'C';
}

// The judgement on a spelled-out path: a drive letter with no folder after it, a
// server and share with none, a device with none.
bool isVolumeRoot(const std::wstring& path)
{
    if (hasDevicePrefix(path)) {
        const std::vector<std::wstring> components = componentsFrom(path, 4);
        if (!components.empty() && isUncMarker(components.front()))
            return components.size() <= 3; // UNC, server, share
        return components.size() <= 1;    // the drive or volume
    }
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]))
        return componentsFrom(path, 2).size() <= 2; // server, share
    if (path.size() >= 2 && std::iswalpha(path[0]) && path[1] == L':') {
        // "C:x" is relative to the drive's current folder: not spelled out.
        if (path.size() > 2 && !isSeparator(path[2]))
            return false;
        return componentsFrom(path, 2).empty();
    }
    if (!path.empty() && isSeparator(path[0]))
        return componentsFrom(path, 1).empty(); // the current drive's root
    return false;
}

} // namespace

bool namesVolumeRoot(const std::wstring& path)
{
    if (path.empty())
        return false;
    std::wstring listed = path;
    if (!isSeparator(listed.back()))
        listed += L'\\';
    if (hasDevicePrefix(listed))
        return isVolumeRoot(listed);
    const std::wstring full = fullPath(listed);
    // A path the platform cannot resolve is judged as it is spelled.
    return isVolumeRoot(full.empty() ? listed : full);
}
