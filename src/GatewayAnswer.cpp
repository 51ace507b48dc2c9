#include "src/GatewayAnswer.h"

#include "src/JsonText.h"
#include "common/VersionFolderName.h"

#include <json/json.h>

#include <stdexcept>

namespace {

bool isJsonInteger(const Json::Value& value)
{
    return value.type() == Json::intValue || value.type() == Json::uintValue;
}

std::string versionText(const Json::Value& value)
{
    switch (value.type()) {
    case Json::intValue:
    case Json::uintValue:
    case Json::stringValue:
    case Json::nullValue:
    case Json::booleanValue:
        return value.asString();
    default:
        throw std::runtime_error("result.version cannot be converted to text");
    }
}

// result.sha256: null or absent is no digest (true, `digest` empty); 64 hexadecimal
// digits are the digest, kept in lower case; anything else is refused (false).
bool readDigest(const Json::Value& value, std::string& digest)
{
    if (value.isNull())
        return true;
    if (!value.isString())
        return false;
    const std::string text = value.asString();
    if (text.size() != 64)
        return false;
    for (const char c : text) {
        if (c >= '0' && c <= '9')
            digest += c;
        else if (c >= 'a' && c <= 'f')
            digest += c;
        else if (c >= 'A' && c <= 'F')
            digest += static_cast<char>(c - 'A' + 'a');
        else
            return false;
    }
    return true;
}

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

// result.signature: exactly the 88 characters of standard, padded base64 that 64 bytes
// make, and nothing that decodes to the same bytes some other way (no blanks, no
// URL-safe alphabet, no stray bits before the padding); `raw` gets the 64 bytes.
bool readSignature(const Json::Value& value, std::string& raw)
{
    constexpr size_t kEncodedSize = 88;
    if (!value.isString())
        return false;
    const std::string text = value.asString();
    if (text.size() != kEncodedSize || text[86] != '=' || text[87] != '=')
        return false;
    unsigned bits = 0;
    int bitCount = 0;
    for (size_t i = 0; i < 86; ++i) {
        const int sextet = base64Value(text[i]);
        if (sextet < 0)
            return false;
        bits = (bits << 6) | static_cast<unsigned>(sextet);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            raw += static_cast<char>((bits >> bitCount) & 0xFF);
        }
    }
    // 86 characters carry 516 bits: 64 bytes and four that must be zero.
    return raw.size() == 64 && (bits & ((1u << bitCount) - 1)) == 0;
}

} // namespace

GatewayReading readGatewayAnswer(const char* text, const std::string& currentVer, PackageProof proof)
{
    Json::Value root;
    if (!parseJsonUpToNul(text, root) || !root.isObject())
        return {};

    const Json::Value code = root.get("code", "");
    if (!isJsonInteger(code))
        return {};
    const bool success = code.type() == Json::intValue ? code.asLargestInt() == 0 : code.asLargestUInt() == 0;
    GatewayReading reading;
    if (!success) {
        reading.answer = GatewayAnswer::Refused;
        return reading;
    }

    // A null result reads like an empty one; anything else that is not an object is
    // not an answer this launcher understands.
    const Json::Value result = root.get("result", Json::Value());
    if (!result.isObject() && !result.isNull())
        return {};
    const Json::Value members = result.isNull() ? Json::Value(Json::objectValue) : result;

    const Json::Value urlValue = members.get("url", "");
    if (!urlValue.isString()) {
        reading.answer = GatewayAnswer::UrlNotText;
        return reading;
    }

    const bool verFromAnswer = members.isMember("version");
    const std::string newVer = verFromAnswer ? versionText(members["version"]) : currentVer;
    // The version names the folder that deployment deletes and replaces.
    if (!isVersionFolderName(newVer))
        return {};
    PackageOffer& package = reading.package;
    package.url = urlValue.asString();
    package.ver = newVer;
    package.verFromAnswer = verFromAnswer;
    // Nothing to install still chooses the folder the button starts: under a key it is
    // signed too, over an empty digest, and its sha256 is never looked at.
    if (package.url.empty()) {
        reading.answer = GatewayAnswer::NoUpdate;
        if (proof == PackageProof::Signature && !readSignature(members.get("signature", Json::Value()), package.signature))
            return {};
        return reading;
    }

    reading.answer = GatewayAnswer::Package;
    if (!readDigest(members.get("sha256", Json::Value()), package.sha256))
        return {};
    if (proof == PackageProof::Signature &&
        (package.sha256.empty() || !readSignature(members.get("signature", Json::Value()), package.signature)))
        return {};
    return reading;
}
