// Archive entry names and folder names from outside, on arbitrary bytes. The entry
// gate is the one extraction applies to a name of any length, as the C string the zip
// reader hands over: it must pass isSafeRelativePath.
// Whatever passes is checked here against the hazards themselves, worked out
// independently: no component that Windows trims to ".." or to nothing, no drive
// letter or stream, no leading separator (root, UNC, device paths), no device name,
// under either separator and also when split the way a GBK (code page 936) system
// splits, where a trail byte may be 0x5C.
#include "common/PathSafety.h"

#include "FuzzCheck.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr size_t kLongestFolderName = 255;

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

// The name Windows opens for a component: trailing dots and blanks dropped.
std::string_view trimmed(std::string_view component)
{
    while (!component.empty() && (component.back() == '.' || component.back() == ' '))
        component.remove_suffix(1);
    return component;
}

std::string upperAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

// A reserved device name, whatever extension or blanks follow it.
bool namesDevice(std::string_view component)
{
    std::string_view base = trimmed(component);
    base = base.substr(0, base.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.remove_suffix(1);
    const std::string name = upperAscii(base);
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices) {
        if (name == device)
            return true;
    }
    if (name.size() == 4 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "LPT") == 0)) {
        const unsigned char digit = static_cast<unsigned char>(name[3]);
        return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return false;
}

// Components split at every separator byte, or (gbk) only at separators that start a
// character, a GBK lead byte 0x81-0xFE taking the byte after it.
std::vector<std::string_view> components(std::string_view path, bool gbk)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    size_t i = 0;
    while (i < path.size()) {
        const unsigned char byte = static_cast<unsigned char>(path[i]);
        if (gbk && byte >= 0x81 && byte <= 0xFE && i + 1 < path.size()) {
            i += 2;
            continue;
        }
        if (isSeparator(path[i])) {
            parts.push_back(path.substr(start, i - start));
            start = i + 1;
        }
        ++i;
    }
    parts.push_back(path.substr(start));
    return parts;
}

void checkStaysBelow(std::string_view path, bool gbk)
{
    for (std::string_view part : components(path, gbk)) {
        // "" (a doubled separator) and "." stay where they are; anything else that
        // trims to nothing is ".." or a name Windows cannot keep.
        if (part.empty() || part == ".")
            continue;
        FUZZ_CHECK(!trimmed(part).empty());
        FUZZ_CHECK(!namesDevice(part));
    }
}

void checkEntryName(const char* raw, size_t size)
{
    const std::string_view name(raw, strnlen(raw, size));
    if (!isSafeRelativePath(name))
        return;

    FUZZ_CHECK(!name.empty());
    FUZZ_CHECK(!isSeparator(name.front()));
    FUZZ_CHECK(name.find(':') == std::string_view::npos);
    checkStaysBelow(name, false);
    checkStaysBelow(name, true);
}

void checkFolderName(std::string_view name)
{
    if (!isSafeFolderName(name))
        return;
    FUZZ_CHECK(!name.empty() && name.size() <= kLongestFolderName);
    for (char c : name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        FUZZ_CHECK(byte >= 0x20 && byte != 0x7F);
        FUZZ_CHECK(std::strchr("\\/:*?\"<>|", c) == nullptr);
    }
    FUZZ_CHECK(trimmed(name) == name);
    FUZZ_CHECK(!namesDevice(name));
    // A folder name is also a relative path that stays where it is put.
    FUZZ_CHECK(isSafeRelativePath(name));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    checkEntryName(bytes, size);
    // Folder names come from JSON texts, which can carry a NUL inside.
    checkFolderName(std::string_view(bytes, size));
    return 0;
}
