#pragma once

#include <string>

// What the update gateway's answer to a version query means for the launcher.
enum class GatewayAnswer {
    ServerError, // not a JSON object, no integer code, a result that is not an object,
                 // or a version that cannot name a folder
    Refused,     // code other than 0
    UrlNotText,  // result.url present but not a string
    NoUpdate,    // result.url empty or absent
    Package,     // result.url names the package to install
};

// What an answer says. `url` and `ver` are set on NoUpdate and Package only: the
// package URL, and the package's version (result.version as text, integers as their
// decimal text, the current version when absent).
struct GatewayReading {
    GatewayAnswer answer = GatewayAnswer::ServerError;
    std::string url;
    std::string ver;
};

// Reads `text` (the answer up to its first NUL byte). Throws std::exception when
// result.version is a fraction, an array or an object.
GatewayReading readGatewayAnswer(const char* text, const std::string& currentVer);
