#include "common/VersionFolderName.h"

#include <windows.h>

bool convertsStrictlyFromAnsiCodePage(std::string_view text)
{
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr,
                               0) > 0;
}
