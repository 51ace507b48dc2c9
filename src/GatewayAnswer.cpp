#include "GatewayAnswer.h"

#include "common/VersionFolderName.h"

#include <json/json.h>

#include <exception>
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

// JsonCpp's reader throws instead of failing when nesting passes its depth limit; an
// answer too deep to read is as unreadable as one that is not JSON.
bool parseJson(const char* text, Json::Value& root)
{
    try {
        Json::Reader reader(Json::Features::all());
        return reader.parse(text, root, false);
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

GatewayReading readGatewayAnswer(const char* text, const std::string& currentVer)
{
    Json::Value root;
    if (!parseJson(text, root) || !root.isObject())
        return {GatewayAnswer::ServerError, {}, {}};

    const Json::Value code = root.get("code", "");
    if (!isJsonInteger(code))
        return {GatewayAnswer::ServerError, {}, {}};
    const bool success = code.type() == Json::intValue ? code.asLargestInt() == 0 : code.asLargestUInt() == 0;
    if (!success)
        return {GatewayAnswer::Refused, {}, {}};

    // A null result reads like an empty one; anything else that is not an object is
    // not an answer this launcher understands.
    const Json::Value result = root.get("result", Json::Value());
    if (!result.isObject() && !result.isNull())
        return {GatewayAnswer::ServerError, {}, {}};
    const Json::Value members = result.isNull() ? Json::Value(Json::objectValue) : result;

    const Json::Value urlValue = members.get("url", "");
    if (!urlValue.isString())
        return {GatewayAnswer::UrlNotText, {}, {}};

    const std::string newVer = versionText(members.get("version", currentVer));
    // The version names the folder that deployment deletes and replaces.
    if (!isVersionFolderName(newVer))
        return {GatewayAnswer::ServerError, {}, {}};
    const std::string url = urlValue.asString();
    return {url.empty() ? GatewayAnswer::NoUpdate : GatewayAnswer::Package, url, newVer};
}
