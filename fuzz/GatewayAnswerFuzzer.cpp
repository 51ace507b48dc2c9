// The gateway's answer to a version query, as the launcher reads it: arbitrary bytes
// up to the first NUL, read as a launcher without and one with a package key reads it.
// Checked: the answer is one of the five readings; the version handed on names
// exactly one folder, as the file system will see it; a package's digest is 64
// lower-case hexadecimal digits or none, and the signature of a package or of nothing
// to install 64 bytes exactly when a key asks for one (a package's with a digest
// beside it); nothing is handed on for the other readings; a key changes a reading
// only by refusing a package or nothing to install, never what is read;
// the only failure is a std::exception (which the query turns into its network
// status); and an answer in plain RFC 8259 JSON is read as a strict reader reads it.
#include "src/GatewayAnswer.h"

#include "FuzzCheck.h"
#include "common/PathSafety.h"
#include "common/VersionFolderName.h"

#include <json/json.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

namespace {

const std::string kCurrentVer = "70";

// RFC 8259 JSON and nothing more: no comments, no "+1", no ".5", no trailing text, no
// byte order mark, strings without raw control characters. Both the launcher's
// reader and JsonCpp's strict one accept their own extras; on this common ground
// they must agree. Nesting is capped well below both readers' limit.
class StrictJson {
public:
    explicit StrictJson(const std::string& text) : s(text) {}

    bool valid()
    {
        return value(0) && (skipBlanks(), i == s.size());
    }

private:
    static constexpr int kDepthLimit = 500;

    void skipBlanks()
    {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r'))
            ++i;
    }

    bool take(char c)
    {
        skipBlanks();
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }

    bool word(const char* w)
    {
        const size_t n = std::strlen(w);
        if (s.compare(i, n, w) != 0)
            return false;
        i += n;
        return true;
    }

    bool digits()
    {
        const size_t start = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            ++i;
        return i > start;
    }

    bool number()
    {
        if (i < s.size() && s[i] == '-')
            ++i;
        if (i < s.size() && s[i] == '0')
            ++i;
        else if (!(i < s.size() && s[i] >= '1' && s[i] <= '9') || !digits())
            return false;
        if (i < s.size() && s[i] == '.' && (++i, !digits()))
            return false;
        if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
            ++i;
            if (i < s.size() && (s[i] == '+' || s[i] == '-'))
                ++i;
            if (!digits())
                return false;
        }
        return true;
    }

    bool string()
    {
        if (!take('"'))
            return false;
        while (i < s.size()) {
            const unsigned char c = static_cast<unsigned char>(s[i++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return false;
            if (c != '\\')
                continue;
            if (i == s.size())
                return false;
            const char e = s[i++];
            if (e == 'u') {
                for (int k = 0; k < 4; ++k, ++i) {
                    if (i == s.size() || !std::isxdigit(static_cast<unsigned char>(s[i])))
                        return false;
                }
            } else if (!std::strchr("\"\\/bfnrt", e) || e == '\0') {
                return false;
            }
        }
        return false;
    }

    bool value(int depth)
    {
        if (depth > kDepthLimit)
            return false;
        skipBlanks();
        if (i == s.size())
            return false;
        switch (s[i]) {
        case '{':
            ++i;
            if (take('}'))
                return true;
            do {
                if (!string() || !take(':') || !value(depth + 1))
                    return false;
            } while (take(','));
            return take('}');
        case '[':
            ++i;
            if (take(']'))
                return true;
            do {
                if (!value(depth + 1))
                    return false;
            } while (take(','));
            return take(']');
        case '"':
            return string();
        case 't':
            return word("true");
        case 'f':
            return word("false");
        case 'n':
            return word("null");
        default:
            return number();
        }
    }

    const std::string& s;
    size_t i = 0;
};

// What a strict reader makes of a strictly valid answer, for the documents whose
// reading follows from the text alone: an object whose "code" is the integer 0 and
// whose "result" is an object with string members only, where present (a sha256 may
// be anything). Returns false for any other answer.
bool strictReading(const std::string& text, GatewayAnswer& answer, std::string& url, std::string& ver,
                   bool& verFromAnswer, std::string& sha256)
{
    if (!StrictJson(text).valid())
        return false;
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    builder.settings_["skipBom"] = false;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value parsed;
    std::string errors;
    try {
        if (!reader->parse(text.data(), text.data() + text.size(), &parsed, &errors) || !parsed.isObject())
            return false;
    } catch (const std::exception&) {
        return false;
    }
    const Json::Value& root = parsed;  // const: looking a member up must not add it
    const Json::Value& code = root["code"];
    const bool zero = (code.type() == Json::intValue && code.asLargestInt() == 0) ||
                      (code.type() == Json::uintValue && code.asLargestUInt() == 0);
    if (!zero)
        return false;
    const Json::Value& result = root["result"];
    if (!result.isObject())
        return false;
    const bool hasUrl = result.isMember("url");
    const bool hasVersion = result.isMember("version");
    if ((hasUrl && !result["url"].isString()) || (hasVersion && !result["version"].isString()))
        return false;

    url = hasUrl ? result["url"].asString() : "";
    ver = hasVersion ? result["version"].asString() : kCurrentVer;
    verFromAnswer = hasVersion;
    answer = url.empty() ? GatewayAnswer::NoUpdate : GatewayAnswer::Package;
    sha256.clear();
    const Json::Value& digest = result["sha256"];
    if (answer == GatewayAnswer::Package && !digest.isNull()) {
        const std::string given = digest.isString() ? digest.asString() : "";
        if (given.size() == 64 && given.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
            for (const char c : given)
                sha256 += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else {
            answer = GatewayAnswer::ServerError;
        }
    }
    if (!isVersionFolderName(ver))
        answer = GatewayAnswer::ServerError;
    return true;
}

bool isLowerHexDigest(const std::string& text)
{
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The invariants of one reading under `proof`.
void checkReading(const GatewayReading& reading, PackageProof proof)
{
    switch (reading.answer) {
    case GatewayAnswer::Package:
        FUZZ_CHECK(reading.package.sha256.empty() || isLowerHexDigest(reading.package.sha256));
        if (proof == PackageProof::Signature)
            FUZZ_CHECK(!reading.package.sha256.empty() && reading.package.signature.size() == 64);
        else
            FUZZ_CHECK(reading.package.signature.empty());
        [[fallthrough]];
    case GatewayAnswer::NoUpdate:
        FUZZ_CHECK(isSafeFolderName(reading.package.ver) && isVersionFolderName(reading.package.ver));
        FUZZ_CHECK(reading.package.url.empty() == (reading.answer == GatewayAnswer::NoUpdate));
        if (reading.answer == GatewayAnswer::NoUpdate)
            FUZZ_CHECK(reading.package.sha256.empty() &&
                       reading.package.signature.size() == (proof == PackageProof::Signature ? 64u : 0u));
        break;
    case GatewayAnswer::ServerError:
    case GatewayAnswer::Refused:
    case GatewayAnswer::UrlNotText:
        FUZZ_CHECK(reading.package.url.empty() && reading.package.ver.empty() && reading.package.sha256.empty() &&
                   reading.package.signature.empty());
        break;
    default:
        FUZZ_CHECK(!"an answer outside the five readings");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The launcher terminates its answer buffer; a NUL inside ends the text.
    const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));

    GatewayReading reading, signedReading;
    bool raised = false, signedRaised = false;
    try {
        reading = readGatewayAnswer(text.c_str(), kCurrentVer, PackageProof::Digest);
    } catch (const std::exception&) {
        raised = true;
    }
    try {
        signedReading = readGatewayAnswer(text.c_str(), kCurrentVer, PackageProof::Signature);
    } catch (const std::exception&) {
        signedRaised = true;
    }
    FUZZ_CHECK(raised == signedRaised);
    if (raised)
        return 0;
    checkReading(reading, PackageProof::Digest);
    checkReading(signedReading, PackageProof::Signature);
    // A key only ever refuses what an answer offers, a package or nothing to install;
    // whatever it lets through reads the same.
    if (signedReading.answer != reading.answer)
        FUZZ_CHECK((reading.answer == GatewayAnswer::Package || reading.answer == GatewayAnswer::NoUpdate) &&
                   signedReading.answer == GatewayAnswer::ServerError);
    else
        FUZZ_CHECK(signedReading.package.url == reading.package.url && signedReading.package.ver == reading.package.ver &&
                   signedReading.package.verFromAnswer == reading.package.verFromAnswer && signedReading.package.sha256 == reading.package.sha256);

    const GatewayAnswer answer = reading.answer;
    GatewayAnswer strictAnswer;
    std::string strictUrl, strictVer, strictSha256;
    bool strictVerFromAnswer = false;
    if (strictReading(text, strictAnswer, strictUrl, strictVer, strictVerFromAnswer, strictSha256)) {
        FUZZ_CHECK(answer == strictAnswer);
        if (answer != GatewayAnswer::ServerError) {
            FUZZ_CHECK(reading.package.url == strictUrl);
            FUZZ_CHECK(reading.package.ver == strictVer && reading.package.verFromAnswer == strictVerFromAnswer);
            FUZZ_CHECK(reading.package.sha256 == strictSha256);
        }
    }
    return 0;
}
