#pragma once

#include "common/FileSystem.h"

#include <string>

// Every path the tool composes is the folder, a forward slash and the name, whatever
// separators the folder already holds ("C:\app\" and "x.dll" give "C:\app\/x.dll",
// which Windows reads as C:\app\x.dll). The length is not limited here; the platform
// refuses what it cannot handle.
inline std::wstring composePath(const std::wstring& folder, const std::wstring& name)
{
    return folder + L'/' + name;
}

// A composed path in the \\?\ form (see longPathForm), which file calls take past
// MAX_PATH: without it a deep target gets every file and silently no version record.
// A path the platform cannot resolve stays as composed, and fails as such.
inline std::wstring composeLongPath(const std::wstring& folder, const std::wstring& name)
{
    const std::wstring composed = composePath(folder, name);
    const std::wstring longForm = longPathForm(composed);
    return longForm.empty() ? composed : longForm;
}

// The client's runtime in an installation folder, started again after an update. As
// composed, not in the \\?\ form: the runtime gets this path as its whole command line.
inline std::wstring runtimePathIn(const std::wstring& targetFolder)
{
    return composePath(targetFolder, L"nw.exe");
}

// The installation's version file, holding the bare version text.
inline std::wstring versionFilePathIn(const std::wstring& targetFolder)
{
    return composeLongPath(targetFolder, L"jsver.txt");
}
