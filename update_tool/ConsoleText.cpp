#include "update_tool/ConsoleText.h"

#include "common/AnsiText.h"

std::string consoleText(const std::wstring& text)
{
    return toAnsi(text);
}
