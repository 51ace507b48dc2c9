#pragma once

#include <string>

// What the update gateway's answer to a version query means for the launcher.
enum class GatewayAnswer {
    ServerError, // not a JSON object, no integer code, a result that is not an object,
                 // a version that cannot name a folder, or a package offered without
                 // the digest and signature it must carry
    Refused,     // code other than 0
    UrlNotText,  // result.url present but not a string
    NoUpdate,    // result.url empty or absent
    Package,     // result.url names the package to install
};

// What an answer that offers a package must prove about it.
enum class PackageProof {
    Digest,    // result.sha256 when present; result.signature is never looked at
    Signature, // result.sha256 and result.signature, both required (a build with a package key)
};

// What an answer says. `url` and `ver` are set on NoUpdate and Package only: the
// package URL, and the package's version (result.version as text, integers as their
// decimal text, the current version when absent; `verFromAnswer` says which of the two
// it is). `sha256` and `signature` are set on
// Package only: the digest in lower case (empty when the answer has none), and the
// signature's 64 bytes, r then s (PackageProof::Signature only).
struct GatewayReading {
    GatewayAnswer answer = GatewayAnswer::ServerError;
    std::string url;
    std::string ver;
    bool verFromAnswer = false;
    std::string sha256;
    std::string signature;
};

// Reads `text` (the answer up to its first NUL byte). With a package URL, a
// result.sha256 that is not null and not 64 hexadecimal digits, and under
// PackageProof::Signature a result.signature that is not 88 characters of padded
// standard base64 of 64 bytes, or either of them missing, make it a ServerError
// reading. With an empty URL neither is looked at. Throws std::exception when
// result.version is a fraction, an array or an object.
GatewayReading readGatewayAnswer(const char* text, const std::string& currentVer, PackageProof proof);
