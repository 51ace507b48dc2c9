#include "update_tool/ConsoleText.h"

#include "common/FileSystem.h"

std::string consoleText(const std::wstring& text)
{
    return consoleName(text);
}
