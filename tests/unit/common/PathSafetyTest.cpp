#include "common/PathSafety.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct NameCase {
    std::string text;
    bool safe;
};

std::string printable(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return "\"" + out + "\"";
}

TEST(PathSafety, FolderNameIsExactlyOneHarmlessFolder)
{
    const NameCase cases[] = {
        {"5", true},
        {"70", true},
        {"1.2.3", true},
        {"v1.0-beta_2", true},
        {".hidden", true},
        {"a b", true},
        {"\xb0\xe6\xb1\xbe", true},  // "版本" in GBK
        {"CONSOLE", true},           // a device name only when it stands alone
        {"COM10", true},
        {"LPT", true},
        {"nullable", true},
        {std::string(255, 'x'), true},

        {"", false},
        {std::string(256, 'x'), false},
        {".", false},
        {"..", false},
        {"...", false},
        {"1.0.", false},
        {"1.0 ", false},
        {"a/b", false},
        {"a\\b", false},
        {"C:", false},
        {"a*", false},
        {"a?", false},
        {"a\"b", false},
        {"<a>", false},
        {"a|b", false},
        {"a\tb", false},
        {"a\nb", false},
        {std::string("a\x01", 2), false},
        {"a\x7f", false},
        {"CON", false},
        {"con", false},
        {"Prn", false},
        {"aux", false},
        {"NUL", false},
        {"nul.txt", false},
        {"CON.tar.gz", false},
        {"con .txt", false},
        {"COM1", false},
        {"com9.log", false},
        {"COM0", false},
        {"LPT1", false},
        {"lpt9", false},
        {"COM\xb9", false}, // COM with a code page 1252 superscript one
        {"CONIN$", false},
        {"conout$", false},
    };
    for (const NameCase& c : cases)
        EXPECT_EQ(isSafeFolderName(c.text), c.safe) << printable(c.text);
}

TEST(PathSafety, RelativePathStaysBelowItsFolder)
{
    const NameCase cases[] = {
        {"file.txt", true},
        {"a/b/file.txt", true},
        {"a\\b\\file.txt", true},
        {"a/b\\c/", true},
        {"folder/", true},
        {"./file.txt", true},
        {"a//b", true},
        {"..a/b..", true},
        {"a/...b/c", true},
        {"a/.hidden/x", true},
        {"\xd6\xd0\xce\xc4/\xc3\xfb.txt", true}, // "中文/名.txt" in GBK
        {"CONSOLE/x", true},
        {"com10.txt", true},
        {std::string(255, 'n'), true},

        {"", false},
        {"..", false},
        {"../x", false},
        {"..\\x", false},
        {"a/../../x", false},
        {"a\\..\\x", false},
        {"a/..", false},
        {"a/../", false},
        {".. /x", false},
        {"... /x", false},
        {"a/.../x", false},
        {"a/. ./x", false},
        {" /x", false},
        {"/x", false},
        {"\\x", false},
        {"//server/share/x", false},
        {"\\\\?\\C:\\x", false},
        {"C:x", false},
        {"C:/x", false},
        {"c:\\x", false},
        {"a/b:stream", false},
        {"CON", false},
        {"con.txt", false},
        {"a/NUL", false},
        {"a/nul/", false},
        {"aux.log/x.txt", false},
        {"a/Com1.txt", false},
        {"LPT9/x", false},
        {"a/conout$", false},
        {"a/con .txt", false},
    };
    for (const NameCase& c : cases)
        EXPECT_EQ(isSafeRelativePath(c.text), c.safe) << printable(c.text);
}

} // namespace
