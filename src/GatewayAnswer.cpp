#include "src/GatewayAnswer.h"

#include "src/JsonText.h"
#include "common/SignatureText.h"
#include "common/VersionFolderName.h"

#include <json/json.h>

#include <exception>
#include <optional>
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

// result.signature: the signature's one text form (see decodeSignatureText); `raw`
// gets its 64 bytes.
bool readSignature(const Json::Value& value, std::string& raw)
{
    if (!value.isString())
        return false;
    const std::optional<std::string> decoded = decodeSignatureText(value.asString());
    if (!decoded)
        return false;
    raw = *decoded;
    return true;
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
