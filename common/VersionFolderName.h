#pragma once

#include <string>
#include <string_view>

// True when `ver`, a version text from outside (the gateway's answer, a record file),
// can name exactly one folder below the install root's folder app: a safe folder name
// byte by byte, and one that the file system sees unchanged. Windows converts narrow
// names from the ANSI code page and drops a lead byte that has no trail byte, so
// "..<lead>" would name the parent and "CON<lead>" a device; such texts are refused.
// So is every text that begins with "temp" in any letter case: it would name the
// staging folder of some version, never an installed one.
bool isVersionFolderName(const std::string& ver);

// The one platform call the rule above needs: true when `text` converts from the
// ANSI code page with no byte dropped or replaced. The programs link the Windows
// conversion (AnsiCodePage.cpp); the host fuzz targets link a model of code page 936.
bool convertsStrictlyFromAnsiCodePage(std::string_view text);
