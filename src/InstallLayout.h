#pragma once

#include <string>

// Creates every missing folder along `path` (both separators accepted). Works in a
// 200-byte buffer like the rest of the launcher's paths: a path longer than 198
// characters (199 with a trailing separator) is refused with -1 and nothing is
// created. Returns 0 when every folder exists afterwards, -1 at the first folder
// that neither exists nor can be created (a leading separator gives an empty first
// folder name, so such a path creates nothing).
int makeFolders(const std::string& path);

// True when `ver`, a version text from outside (the gateway's answer, a record file),
// can name exactly one folder below the install root's folder app: a safe folder name
// byte by byte, and one that the file system sees unchanged. Windows converts narrow
// names from the ANSI code page and drops a lead byte that has no trail byte, so
// "..<lead>" would name the parent and "CON<lead>" a device; such texts are refused.
bool isVersionFolderName(const std::string& ver);

// The short (8.3) form of the user's local application-data folder, or "" when the
// shell cannot give it. Logs the result.
std::string localAppDataFolder();

// The launcher's own folder: its module path up to and including the last backslash.
std::string launcherFolder();
