#include "src/InstallLayout.h"

#include "src/DebugLog.h"
#include "common/AnsiText.h"
#include "common/VersionFolderName.h"

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

namespace {

// `text` in the ANSI code page, when it comes back from there unchanged and the
// narrow calls can take it (under MAX_PATH bytes). The conversion alone is lenient:
// it puts a look-alike or "?" where the code page has no character.
std::optional<std::string> strictAnsiForm(const std::wstring& text)
{
    if (text.empty())
        return std::nullopt;
    std::string narrow = toAnsi(text);
    if (narrow.size() >= MAX_PATH || !convertsStrictlyFromAnsiCodePage(narrow) || fromAnsi(narrow) != text)
        return std::nullopt;
    return narrow;
}

} // namespace

std::optional<std::string> ansiFolderName(const std::wstring& shortForm, const std::wstring& longForm)
{
    if (std::optional<std::string> name = strictAnsiForm(shortForm))
        return name;
    return strictAnsiForm(longForm);
}

std::optional<std::string> localAppDataFolder()
{
    // A folder the shell cannot give is no folder either: "" would put the install
    // root at the root of the current drive, shared by every user of the machine.
    std::optional<std::string> folder;
    LPITEMIDLIST item = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_LOCAL_APPDATA, &item)) && item) {
        // Resolved wide: the narrow call gives "?" for every character outside the ANSI
        // code page, a name no folder has, so its short form cannot be found either.
        // The short form is ASCII wherever the volume keeps 8.3 names.
        wchar_t longPath[MAX_PATH] = L"";
        if (SHGetPathFromIDListW(item, longPath)) {
            wchar_t shortPath[MAX_PATH] = L"";
            const DWORD length = GetShortPathNameW(longPath, shortPath, MAX_PATH);
            if (length == 0 || length >= MAX_PATH)
                shortPath[0] = L'\0';
            folder = ansiFolderName(shortPath, longPath);
        }
        CoTaskMemFree(item);
    }
    DebugLog::instance().writeText(folder ? folder->c_str() : "");
    return folder;
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
