#pragma once

// UTF-16 text to and from the byte encodings the tests and their programs meet: the
// ANSI code page (GBK in the test locale), in which the launcher names paths and logs,
// and UTF-8, in which the support programs print and the drivers read their lists.
// Characters the code page has no mapping for become its default character.

#include <windows.h>

#include <string>
#include <string_view>

std::string narrow(std::wstring_view text, UINT codePage = CP_ACP);
std::wstring widen(std::string_view bytes, UINT codePage = CP_ACP);
