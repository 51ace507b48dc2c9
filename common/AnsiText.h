#pragma once

// Text between UTF-16 and the narrow forms the programs meet: the ANSI code page (GBK
// on the Chinese systems the programs run on), in which the launcher keeps its paths,
// archives name entries without the UTF-8 flag, and both programs write their console
// lines; and UTF-8, in which archives name flagged entries. Only the platform's
// conversions are used, so a name reads here as every narrow call reads it.

#include <string>
#include <string_view>

// UTF-16 text in the ANSI code page; characters without a mapping become the code
// page's default character. "" for empty text or when the platform cannot convert.
std::string toAnsi(const std::wstring& text);

// ANSI code page text as UTF-16, as the platform's narrow calls read it.
std::wstring fromAnsi(const std::string& text);

// UTF-8 text as UTF-16. Strict: bytes that are no UTF-8 give "", never a text with
// replacement characters.
std::wstring fromUtf8(const std::string& text);

// True when `text` converts from the ANSI code page with no byte dropped or replaced
// (false for empty text): the one platform call the version-folder rule needs (see
// isVersionFolderName). The programs link the Windows conversion (AnsiText.cpp); the
// host fuzz targets link a model of code page 936 (fuzz/AnsiTextStub.cpp).
bool convertsStrictlyFromAnsiCodePage(std::string_view text);
