#pragma once

#include <string>

// What the update gateway's answer to a version query means for the launcher.
enum class GatewayAnswer {
    ServerError, // not a JSON object, no integer code, a result that is not an object,
                 // a version that cannot name a folder, a package offered without the
                 // digest and signature it must carry, or (under a key) an unsigned
                 // answer that offers none
    Refused,     // code other than 0
    UrlNotText,  // result.url present but not a string
    NoUpdate,    // result.url empty or absent
    Package,     // result.url names the package to install
};

// What an answer must prove about what it offers.
enum class PackageProof {
    Digest,    // result.sha256 when a package is offered and it is present; result.signature
               // is never looked at
    Signature, // a build with a package key: result.signature always, and result.sha256 too
               // when a package is offered
};

// What an answer says about the package it offers, or, with an empty URL, about the
// version to start without one. A member the answer adds about its package is added
// here, read in readGatewayAnswer and used by the step that acts on it: everything in
// between carries this whole.
//
// `url` and `ver` are set on NoUpdate and Package only: the package URL, and the
// package's version (result.version as text, integers as their decimal text, the
// current version when absent; `verFromAnswer` says which of the two it is). `sha256`
// is set on Package only: the digest in lower case (empty when the answer has none).
// `signature` is set on NoUpdate and Package under PackageProof::Signature only: the
// signature's 64 bytes, r then s.
struct PackageOffer {
    std::string url;
    std::string ver;
    bool verFromAnswer = false;
    std::string sha256;
    std::string signature;
};

// What an answer means and what it says; `package` is empty unless the answer is
// NoUpdate or Package.
struct GatewayReading {
    GatewayAnswer answer = GatewayAnswer::ServerError;
    PackageOffer package;
};

// Reads `text` (the answer up to its first NUL byte). Under PackageProof::Signature a
// result.signature that is missing or not 88 characters of padded standard base64 of
// 64 bytes makes it a ServerError reading. With a package URL, so does a result.sha256
// that is not null and not 64 hexadecimal digits, or under PackageProof::Signature one
// that is missing. With an empty URL result.sha256 is not looked at. Throws
// std::exception when result.version is a fraction, an array or an object.
GatewayReading readGatewayAnswer(const char* text, const std::string& currentVer, PackageProof proof);
