#pragma once

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

// The short (8.3) form of the user's local application-data folder, or "" when the
// shell cannot give it. Logs the result.
std::string localAppDataFolder();

// The launcher's own folder: its module path up to and including the last backslash.
std::string launcherFolder();
