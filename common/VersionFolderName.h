#pragma once

#include <string>

// True when `ver`, a version text from outside (the gateway's answer, a record file),
// can name exactly one folder below the install root's folder app: a safe folder name
// byte by byte, and one that the file system sees unchanged. Windows converts narrow
// names from the ANSI code page and drops a lead byte that has no trail byte, so
// "..<lead>" would name the parent and "CON<lead>" a device; such texts are refused
// (the code page's own conversion decides, see convertsStrictlyFromAnsiCodePage in
// AnsiText.h). So is every text that begins with "temp" in any letter case: it would
// name the staging folder of some version, never an installed one.
bool isVersionFolderName(const std::string& ver);
