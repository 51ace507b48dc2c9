#include "common/PathSafety.h"

#include "common/PathSeparator.h"

#include <cstddef>

namespace {

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalsIgnoringCase(std::string_view text, std::string_view upperCaseWord)
{
    if (text.size() != upperCaseWord.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (upper(text[i]) != upperCaseWord[i])
            return false;
    }
    return true;
}

// Windows maps these names to devices in every folder, whatever follows the first dot
// and however many blanks precede it: "nul", "Con.txt" and "aux .log" all open a
// device instead of a file. COM and LPT also take the superscript digits of code page
// 1252 (the bytes B9, B2, B3).
bool isDeviceName(std::string_view component)
{
    std::string_view base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.remove_suffix(1);

    for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (equalsIgnoringCase(base, device))
            return true;
    }
    if (base.size() == 4 && (equalsIgnoringCase(base.substr(0, 3), "COM") ||
                             equalsIgnoringCase(base.substr(0, 3), "LPT"))) {
        const unsigned char last = static_cast<unsigned char>(base[3]);
        return (last >= '0' && last <= '9') || last == 0xB9 || last == 0xB2 || last == 0xB3;
    }
    return false;
}

// "..", "...", ". ." and ".. " all end up as a step to the parent or a vanishing name
// once Windows trims trailing dots and blanks; "." alone stays where it is.
bool isDotsAndBlanks(std::string_view component)
{
    if (component.empty() || component == ".")
        return false;
    for (char c : component) {
        if (c != '.' && c != ' ')
            return false;
    }
    return true;
}

} // namespace

bool isSafeFolderName(std::string_view name)
{
    if (name.empty() || name.size() > 255)
        return false;
    for (char c : name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return false;
        if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos)
            return false;
    }
    if (name.back() == '.' || name.back() == ' ')
        return false;
    return !isDeviceName(name);
}

bool isSafeRelativePath(std::string_view path)
{
    if (path.empty() || isSeparator(path.front()))
        return false;
    if (path.find(':') != std::string_view::npos)
        return false;

    // Splitting at every separator byte is conservative for double-byte code pages:
    // a trail byte of 0x5C can only add components, never hide one, and "/", ".", ":"
    // never occur as trail bytes.
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = start;
        while (end < path.size() && !isSeparator(path[end]))
            ++end;
        const std::string_view component = path.substr(start, end - start);
        if (isDotsAndBlanks(component) || isDeviceName(component))
            return false;
        start = end + 1;
    }
    return true;
}
