#pragma once

#include <string>

// UTF-16 text as the bytes the tool's console lines carry: the ANSI code page (GBK on
// the Chinese systems the tool runs on), like the usage text. Characters without a
// mapping become the code page's default character rather than ending the line.
std::string consoleText(const std::wstring& text);
