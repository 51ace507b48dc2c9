#include "InstallLayout.h"

#include "DebugLog.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>

namespace InstallLayout {

std::string recordFile(const std::string& installRoot)
{
    return installRoot + "\\jsver.txt";
}

std::string versionFolder(const std::string& installRoot, const std::string& ver)
{
    return installRoot + "\\app\\" + ver;
}

std::string stagingFolder(const std::string& installRoot, const std::string& ver)
{
    return installRoot + "\\app\\temp" + ver;
}

std::string downloadFolder(const std::string& installRoot)
{
    return installRoot + "/download";
}

std::string downloadArchive(const std::string& installRoot)
{
    return downloadFolder(installRoot) + "/pack";
}

std::string downloadedPackage(const std::string& installRoot)
{
    return downloadFolder(installRoot) + "/package.nw";
}

// The launcher's folder ends in a backslash, and the shipped files have always been
// named with one more; Windows reads the doubled separator as one.
std::string shippedArchive(const std::string& launcherDir)
{
    return launcherDir + "\\res.dat";
}

std::string shippedRecord(const std::string& launcherDir)
{
    return launcherDir + "\\jsver.txt";
}

std::string runtime(const std::string& launcherDir)
{
    return launcherDir + "erp.exe";
}

std::string packageBesideLauncher(const std::string& launcherDir)
{
    return launcherDir + "package.nw";
}

std::string installRootIn(const std::string& localAppData)
{
    return localAppData + "\\tarnvaleerp";
}

} // namespace InstallLayout

std::string localAppDataFolder()
{
    char shortPath[MAX_PATH] = "";
    LPITEMIDLIST item = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_LOCAL_APPDATA, &item)) && item) {
        char longPath[MAX_PATH] = "";
        if (SHGetPathFromIDListA(item, longPath) &&
            GetShortPathNameA(longPath, shortPath, MAX_PATH) >= MAX_PATH)
            shortPath[0] = '\0';
        CoTaskMemFree(item);
    }
    DebugLog::instance().writeText(shortPath);
    return shortPath;
}

std::string launcherFolder()
{
    char modulePath[MAX_PATH] = "";
    const DWORD length = GetModuleFileNameA(nullptr, modulePath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    const char* lastBackslash = std::strrchr(modulePath, '\\');
    return lastBackslash ? std::string(modulePath, static_cast<size_t>(lastBackslash + 1 - modulePath))
                         : std::string();
}
