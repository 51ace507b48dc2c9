#include "update_tool/MoveListedFiles.h"

#include "update_tool/ComposedPath.h"

#include <windows.h>

int moveListedFiles(const std::wstring& sourceFolder, const std::wstring& targetFolder,
                    const std::vector<std::wstring>& names)
{
    for (const std::wstring& name : names) {
        const std::wstring source = composeLongPath(sourceFolder, name);
        const std::wstring target = composeLongPath(targetFolder, name);
        if (!MoveFileExW(source.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
            return -1;
    }
    return 0;
}
