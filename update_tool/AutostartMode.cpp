#include "update_tool/Modes.h"

#include "update_tool/AutostartEntry.h"

int runAutostartMode(const std::wstring& text)
{
    setAutostartEntry(text, text != L"delete");
    return 0;
}
