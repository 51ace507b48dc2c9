// The gateway's answer to a version query, as the launcher reads it: arbitrary bytes
// up to the first NUL. Checked: the answer is one of the five readings, the version
// handed on can name exactly one folder (as the file system will see it), nothing is handed on for the other readings,
// the only failure is a std::exception (which the query turns into its network
// status), and an answer that is strict, well-formed JSON is read as such.
#include "GatewayAnswer.h"

#include "FuzzCheck.h"
#include "InstallLayout.h"
#include "common/PathSafety.h"

#include <json/json.h>

#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

namespace {

const std::string kCurrentVer = "70";
const std::string kUntouched = "\x01untouched";

// What a strict reader makes of the answer, for the documents both readers agree on:
// an object whose "code" is an integer 0 and whose "result" is an object with string
// members only where present. Returns false when the answer is outside that set.
bool strictReading(const std::string& text, GatewayAnswer& answer, std::string& url, std::string& ver)
{
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    // The launcher's reader takes no byte order mark either: an answer that starts
    // with one is not JSON to it.
    builder.settings_["skipBom"] = false;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    try {
        if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors) || !root.isObject())
            return false;
    } catch (const std::exception&) {
        return false;
    }
    const Json::Value& code = root["code"];
    const bool zero = (code.type() == Json::intValue && code.asLargestInt() == 0) ||
                      (code.type() == Json::uintValue && code.asLargestUInt() == 0);
    if (!zero)
        return false;
    const Json::Value& result = root["result"];
    if (!result.isObject())
        return false;
    const Json::Value& urlValue = result["url"];
    const Json::Value& versionValue = result["version"];
    if (!(urlValue.isNull() || urlValue.isString()) || !(versionValue.isNull() || versionValue.isString()))
        return false;
    if (urlValue.isNull() && result.isMember("url"))
        return false;
    if (versionValue.isNull() && result.isMember("version"))
        return false;

    url = urlValue.isString() ? urlValue.asString() : "";
    ver = versionValue.isString() ? versionValue.asString() : kCurrentVer;
    if (!isVersionFolderName(ver))
        answer = GatewayAnswer::ServerError;
    else
        answer = url.empty() ? GatewayAnswer::NoUpdate : GatewayAnswer::Package;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The launcher terminates its answer buffer; a NUL inside ends the text.
    const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));

    std::string url = kUntouched;
    std::string ver = kUntouched;
    GatewayAnswer answer;
    try {
        answer = readGatewayAnswer(text.c_str(), kCurrentVer, url, ver);
    } catch (const std::exception&) {
        FUZZ_CHECK(url == kUntouched && ver == kUntouched);
        return 0;
    }

    switch (answer) {
    case GatewayAnswer::NoUpdate:
    case GatewayAnswer::Package:
        FUZZ_CHECK(isSafeFolderName(ver) && isVersionFolderName(ver));
        FUZZ_CHECK(url.empty() == (answer == GatewayAnswer::NoUpdate));
        break;
    case GatewayAnswer::ServerError:
    case GatewayAnswer::Refused:
    case GatewayAnswer::UrlNotText:
        FUZZ_CHECK(url == kUntouched && ver == kUntouched);
        break;
    default:
        FUZZ_CHECK(!"an answer outside the five readings");
    }

    GatewayAnswer strictAnswer;
    std::string strictUrl, strictVer;
    if (strictReading(text, strictAnswer, strictUrl, strictVer)) {
        FUZZ_CHECK(answer == strictAnswer);
        if (answer != GatewayAnswer::ServerError) {
            FUZZ_CHECK(url == strictUrl);
            FUZZ_CHECK(ver == strictVer);
        }
    }
    return 0;
}
