#pragma once

#include <optional>
#include <string>

// Every path the launcher composes below the install root and beside itself, named
// once. The separators are the ones the launcher has always written: the download
// folder's paths are logged, and log readers know them with "/".
namespace InstallLayout {

// The version record of the install root.
std::string recordFile(const std::string& installRoot);
// The installed version's folder, and the folder its package is unpacked into first.
std::string versionFolder(const std::string& installRoot, const std::string& ver);
std::string stagingFolder(const std::string& installRoot, const std::string& ver);
// The network road's download folder, the archive downloaded into it, and the
// package.nw unpacked from that archive.
std::string downloadFolder(const std::string& installRoot);
std::string downloadArchive(const std::string& installRoot);
std::string downloadedPackage(const std::string& installRoot);
// Beside the launcher (`launcherDir` ends in a backslash): the shipped archive and
// its record, the runtime, and a package that wins over the installed folder.
std::string shippedArchive(const std::string& launcherDir);
std::string shippedRecord(const std::string& launcherDir);
std::string runtime(const std::string& launcherDir);
std::string packageBesideLauncher(const std::string& launcherDir);
// The install root below the user's local application-data folder.
std::string installRootIn(const std::string& localAppData);

} // namespace InstallLayout

// The name the launcher's narrow paths give a folder whose short (8.3) and long
// forms are `shortForm` and `longForm` (either may be empty): the short form, as
// every release has named it, or else the long one, converted to the ANSI code page.
// A form counts only when it converts there and back unchanged: a character the code
// page cannot hold would reach the file system as "?" and name no folder at all.
// None when neither form counts.
std::optional<std::string> ansiFolderName(const std::wstring& shortForm, const std::wstring& longForm);

// The user's local application-data folder as the launcher's paths name it (see
// ansiFolderName). None when the shell cannot give the folder, or when it has no name
// in the ANSI code page: then no path of the launcher reaches it, and nothing may be
// installed. Logs the result ("" for none).
std::optional<std::string> localAppDataFolder();

// The launcher's own folder: its module path up to and including the last backslash.
std::string launcherFolder();
