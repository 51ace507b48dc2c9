#include "common/PathSafety.h"

#include "common/PathSeparator.h"

#include <cstddef>

namespace {

// The code of a character as a number: a narrow byte 0-255, a UTF-16 unit 0-65535.
unsigned codeOf(char c)
{
    return static_cast<unsigned char>(c);
}

unsigned codeOf(wchar_t c)
{
    return static_cast<unsigned>(c);
}

template <typename Char>
bool equalsIgnoringCase(std::basic_string_view<Char> text, std::string_view upperCaseWord)
{
    if (text.size() != upperCaseWord.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned code = codeOf(text[i]);
        if (code >= 'a' && code <= 'z')
            code = code - 'a' + 'A';
        if (code != codeOf(upperCaseWord[i]))
            return false;
    }
    return true;
}

// Windows maps these names to devices in every folder, whatever follows the first dot
// and however many blanks precede it: "nul", "Con.txt" and "aux .log" all open a
// device instead of a file. COM and LPT also take the superscript digits 1, 2 and 3
// (U+00B9, U+00B2, U+00B3; the bytes B9, B2, B3 in code page 1252).
template <typename Char>
bool isDeviceName(std::basic_string_view<Char> component)
{
    std::basic_string_view<Char> base = component.substr(0, component.find(static_cast<Char>('.')));
    while (!base.empty() && base.back() == static_cast<Char>(' '))
        base.remove_suffix(1);

    for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (equalsIgnoringCase(base, device))
            return true;
    }
    if (base.size() == 4 && (equalsIgnoringCase(base.substr(0, 3), "COM") ||
                             equalsIgnoringCase(base.substr(0, 3), "LPT"))) {
        const unsigned last = codeOf(base[3]);
        return (last >= '0' && last <= '9') || last == 0xB9 || last == 0xB2 || last == 0xB3;
    }
    return false;
}

// "..", "...", ". ." and ".. " all end up as a step to the parent or a vanishing name
// once Windows trims trailing dots and blanks; "." alone stays where it is.
template <typename Char>
bool isDotsAndBlanks(std::basic_string_view<Char> component)
{
    if (component.empty() || (component.size() == 1 && component[0] == static_cast<Char>('.')))
        return false;
    for (Char c : component) {
        if (c != static_cast<Char>('.') && c != static_cast<Char>(' '))
            return false;
    }
    return true;
}

template <typename Char>
bool staysBelow(std::basic_string_view<Char> path)
{
    if (path.empty() || isSeparator(path.front()))
        return false;
    if (path.find(static_cast<Char>(':')) != std::basic_string_view<Char>::npos)
        return false;

    // Splitting at every separator byte is conservative for double-byte code pages:
    // a trail byte of 0x5C can only add components, never hide one, and "/", ".", ":"
    // never occur as trail bytes.
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = start;
        while (end < path.size() && !isSeparator(path[end]))
            ++end;
        const std::basic_string_view<Char> component = path.substr(start, end - start);
        if (isDotsAndBlanks(component) || isDeviceName(component))
            return false;
        start = end + 1;
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
    return staysBelow(path);
}

bool isSafeRelativePath(std::wstring_view path)
{
    return staysBelow(path);
}
