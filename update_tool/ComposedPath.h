#pragma once

#include <string>

// Every path the tool composes is the folder, a forward slash and the name, whatever
// separators the folder already holds ("C:\app\" and "x.dll" give "C:\app\/x.dll",
// which Windows reads as C:\app\x.dll). The length is not limited here; the platform
// refuses what it cannot handle.
inline std::wstring composePath(const std::wstring& folder, const std::wstring& name)
{
    return folder + L'/' + name;
}

// The client's runtime in an installation folder, started again after an update.
inline std::wstring runtimePathIn(const std::wstring& targetFolder)
{
    return composePath(targetFolder, L"nw.exe");
}

// The installation's version file, holding the bare version text.
inline std::wstring versionFilePathIn(const std::wstring& targetFolder)
{
    return composePath(targetFolder, L"jsver.txt");
}
