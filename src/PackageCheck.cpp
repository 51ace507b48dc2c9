#include "src/PackageCheck.h"

#include "http/HttpEncoder.h"

std::string sentUtf8(const std::string& text)
{
    std::string out(Varnu::CHttpEncoderA::Utf8EncodeLen(text.c_str(), CP_ACP) + 1, '\0');
    Varnu::CHttpEncoderA::Utf8Encode(out.data(), text.c_str(), CP_ACP);
    out.pop_back();
    return out;
}

std::string releaseSignedText(const std::string& platform, const std::string& type, const std::string& ver,
                              const std::string& sha256)
{
    return platform + "\n" + type + "\n" + ver + "\n" + sha256;
}
