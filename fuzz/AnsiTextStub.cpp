// Host stand-in for the one platform call of the version-folder rule, so the fuzz
// targets check the shipped rule itself. The conversion is modelled on code page 936
// (GBK), the launcher's home: a lead byte 0x81-0xFE needs a trail byte 0x40-0x7E or
// 0x80-0xFE, and 0xFF stands for no character.
#include "common/AnsiText.h"

bool convertsStrictlyFromAnsiCodePage(std::string_view text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        if (byte == 0xFF)
            return false;
        if (byte < 0x81)
            continue;
        if (i + 1 == text.size())
            return false;
        const unsigned char trail = static_cast<unsigned char>(text[++i]);
        if (trail < 0x40 || trail == 0x7F || trail == 0xFF)
            return false;
    }
    // Windows refuses to convert nothing; an empty name is refused before this anyway.
    return !text.empty();
}
