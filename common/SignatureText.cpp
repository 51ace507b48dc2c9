#include "common/SignatureText.h"

namespace {

int base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace

std::optional<std::string> decodeSignatureText(const std::string& text)
{
    if (text.size() != kSignatureTextSize || text[86] != '=' || text[87] != '=')
        return std::nullopt;
    std::string raw;
    unsigned bits = 0;
    int bitCount = 0;
    for (std::size_t i = 0; i < 86; ++i) {
        const int sextet = base64Value(text[i]);
        if (sextet < 0)
            return std::nullopt;
        bits = (bits << 6) | static_cast<unsigned>(sextet);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            raw += static_cast<char>((bits >> bitCount) & 0xFF);
        }
    }
    // 86 characters carry 516 bits: 64 bytes and four that must be zero.
    if (raw.size() != 64 || (bits & ((1u << bitCount) - 1)) != 0)
        return std::nullopt;
    return raw;
}
