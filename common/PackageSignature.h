#pragma once

// What both programs need to hold a release to the vendor's key: the SHA-256 of what
// they install, the keys compiled in, and the ECDSA P-256 check against them.

#include <windows.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

// SHA-256 of a byte stream fed as it arrives, by the platform's CNG: the launcher
// hashes a package while it is written, never reading it back.
class PackageDigest {
public:
    // Throws std::runtime_error when CNG has no SHA-256 to offer.
    PackageDigest();
    ~PackageDigest();
    PackageDigest(const PackageDigest&) = delete;
    PackageDigest& operator=(const PackageDigest&) = delete;

    // Throws std::runtime_error when CNG refuses the bytes.
    void add(const void* data, DWORD size);
    // The digest of every byte added; the object takes nothing more after it.
    std::array<unsigned char, 32> finish();
    // The same as 64 lower-case hexadecimal digits, the form of result.sha256.
    std::string finishHex();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// A public key for package signatures: the P-256 point, X then Y, each 32 bytes
// big-endian.
using PackageKey = std::array<unsigned char, 64>;

// The keys compiled in from ZORVIK_PACKAGE_KEY: a signature by any one of them proves a
// release. Empty for a build without a key.
using PackageKeys = std::vector<PackageKey>;
const PackageKeys& builtInPackageKeys();

// True only when `signature` (64 bytes, r then s) is `key`'s ECDSA P-256 signature
// over the SHA-256 of `text`. Everything else is false, a failure of CNG included: a
// signature that cannot be checked is no proof.
bool signatureVerifies(const PackageKey& key, const std::string& text, const std::string& signature);
// True when it is the signature of one of `keys`.
bool signatureVerifiesWithAny(const PackageKeys& keys, const std::string& text, const std::string& signature);
