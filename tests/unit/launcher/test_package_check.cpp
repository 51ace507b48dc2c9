#include "src/PackageCheck.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A key pair, a digest and a signature made with openssl by the release tool's own
// code (tools/zorvik_release.py: sign("2", "1", "71", sha256(b"package"))), so the
// launcher's check is held against the tool that signs, not against itself.
const PackageKey kKey = {
    0x90, 0xf4, 0x2c, 0x65, 0xd9, 0xa3, 0x83, 0xda, 0xc5, 0x36, 0x34, 0xce, 0x77, 0x92, 0xff, 0xfb,
    0x73, 0x9f, 0xf2, 0x7a, 0xf5, 0x50, 0x30, 0x8a, 0xae, 0x1b, 0xfe, 0xdc, 0xd4, 0x7e, 0x98, 0xf6,
    0xa3, 0xa9, 0xc4, 0x25, 0x09, 0x6a, 0xea, 0x48, 0x6b, 0x88, 0x52, 0x12, 0x05, 0x51, 0x50, 0x54,
    0xed, 0x34, 0xd0, 0x1f, 0x49, 0x36, 0x3e, 0x7c, 0xee, 0x96, 0x2e, 0xa0, 0xfc, 0x10, 0x7c, 0x16,
};
const char kDigest[] = "bc4a71180870f7945155fbb02f4b0a2e3faa2a62d6d31b7039013055ed19869a";
const std::string kSignature(
    "\xe0\x34\x58\xc9\x59\x3d\x15\xc2\x87\xfb\xc1\x3e\x99\xc7\xcc\xa8\x04\x8f\x0c\x9a\x79\xda\xcf\xd8\xaf\x4f\x2f\x4c\xb3\x4e\x7a\x67"
    "\x59\xbb\xb8\x36\xd5\x81\x06\x5a\x4c\x90\x81\xca\x8f\xbe\x27\xcc\x37\xc6\xac\xa7\xbd\xc8\x4e\x28\x9d\x25\x5e\x99\xcd\x8c\x50\x03",
    64);

} // namespace

TEST(PackageCheck, OnlyTheReleaseToolsSignatureOverThisReleaseVerifies)
{
    PackageDigest digest;
    digest.add("pack", 4);
    digest.add("age", 3);
    ASSERT_EQ(digest.finishHex(), kDigest);

    const std::string text = releaseSignedText("2", "1", "71", kDigest);
    EXPECT_TRUE(signatureVerifies(kKey, text, kSignature));

    std::string otherDigest = kDigest;
    otherDigest[63] = 'b';
    std::string flippedR = kSignature, flippedS = kSignature;
    flippedR[5] ^= 0x01;
    flippedS[60] ^= 0x80;
    const std::string swapped = kSignature.substr(32) + kSignature.substr(0, 32);
    PackageKey otherKey = kKey;
    otherKey[63] ^= 0x01; // no longer a point of the curve: the import itself fails
    const struct {
        const char* what;
        PackageKey key;
        std::string text, signature;
    } refused[] = {
        {"another version", kKey, releaseSignedText("2", "1", "72", kDigest), kSignature},
        {"another platform", kKey, releaseSignedText("3", "1", "71", kDigest), kSignature},
        {"another type", kKey, releaseSignedText("2", "2", "71", kDigest), kSignature},
        {"another digest", kKey, releaseSignedText("2", "1", "71", otherDigest), kSignature},
        {"a line end after the digest", kKey, text + "\n", kSignature},
        {"a bit of r", kKey, text, flippedR},
        {"a bit of s", kKey, text, flippedS},
        {"r and s swapped", kKey, text, swapped},
        {"zeros", kKey, text, std::string(64, '\0')},
        {"63 bytes", kKey, text, kSignature.substr(0, 63)},
        {"65 bytes", kKey, text, kSignature + '\0'},
        {"another key", otherKey, text, kSignature},
    };
    for (const auto& c : refused)
        EXPECT_FALSE(signatureVerifies(c.key, c.text, c.signature)) << c.what;
}
