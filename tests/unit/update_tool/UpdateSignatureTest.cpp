#include "update_tool/UpdateSignature.h"

#include "common/PackageSignature.h"
#include "common/UniqueHandle.h"

#include "TestSigningKeys.h" // generated: the private halves of the build's test keys
#include "tests/support/TestFiles.h"

#include <bcrypt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <string>

namespace {

const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64(const std::string& bytes)
{
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 2]);
        for (size_t k = 0; k < 4; ++k)
            text += i + k <= bytes.size() ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return text;
}

// The .sig text the release tool writes: test key `which`'s raw r||s signature over
// SHA-256 of `text`, in base64. A build without test keys signs nothing; it gets a
// well-formed text that no key made.
std::string signatureText(unsigned which, const std::string& text)
{
    if (which >= kTestSigningKeyCount)
        return base64(std::string(64, '\x5a'));
    struct {
        BCRYPT_ECCKEY_BLOB header;
        unsigned char point[64];
        unsigned char scalar[32];
    } blob{{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32}, {}, {}};
    std::copy(std::begin(kTestSigningKeys[which].point), std::end(kTestSigningKeys[which].point), blob.point);
    std::copy(std::begin(kTestSigningKeys[which].scalar), std::end(kTestSigningKeys[which].scalar), blob.scalar);
    PackageDigest digest;
    digest.add(text.data(), static_cast<DWORD>(text.size()));
    std::array<unsigned char, 32> hash = digest.finish();

    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    std::string raw(64, '\0');
    ULONG size = 0;
    const bool signedIt =
        BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)) &&
        BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPRIVATE_BLOB, &key,
                                           reinterpret_cast<PUCHAR>(&blob), sizeof(blob), 0)) &&
        BCRYPT_SUCCESS(BCryptSignHash(key, nullptr, hash.data(), static_cast<ULONG>(hash.size()),
                                      reinterpret_cast<PUCHAR>(raw.data()), static_cast<ULONG>(raw.size()), &size, 0));
    if (key)
        BCryptDestroyKey(key);
    if (algorithm)
        BCryptCloseAlgorithmProvider(algorithm, 0);
    EXPECT_TRUE(signedIt && size == 64) << "CNG could not sign with test key " << which;
    return base64(raw);
}

class UpdateToolSignature : public testing::Test {
protected:
    void SetUp() override { writeFile(archivePath, kArchiveBytes); }

    // What archiveSignatureHolds prints for `sig` beside the archive (no .sig file for
    // nullptr), checked with `version`; "" when it holds. The file pointer is moved
    // off the start first, and must be back there after.
    std::string check(const std::string* sig, const std::wstring& version = L"72")
    {
        if (sig)
            writeFile(archivePath + L".sig", *sig);
        else
            DeleteFileW((archivePath + L".sig").c_str());
        const UniqueFileHandle archive = openHeldArchive(archivePath);
        EXPECT_TRUE(archive);
        LARGE_INTEGER at{};
        at.QuadPart = 5;
        SetFilePointerEx(archive.get(), at, nullptr, FILE_BEGIN);

        testing::internal::CaptureStdout();
        const bool holds = archiveSignatureHolds(archive.get(), archivePath, version);
        std::fflush(stdout);
        const std::string printed = testing::internal::GetCapturedStdout();

        EXPECT_EQ(holds, printed.empty()) << printed;
        SetFilePointerEx(archive.get(), LARGE_INTEGER{}, &at, FILE_CURRENT);
        EXPECT_EQ(at.QuadPart, 0);
        return printed;
    }

    std::string refusal(const std::string& reason) const { return "refusing " + narrow(archivePath) + ": " + reason + "\n"; }

    const std::string kArchiveBytes = std::string("PK\x05\x06", 4) + std::string(18, '\0');
    TempFolder root;
    const std::wstring archivePath = root / L"update-72.zip";
    const std::string sigPath = narrow(archivePath) + ".sig";
};

TEST_F(UpdateToolSignature, OnlyOneKeysSignatureOverThisArchiveAndVersionInItsOneSpellingHolds)
{
    // The build's keys and the test's agree: a keyed build is one with test keys here.
    ASSERT_EQ(updateToolIsKeyed(), kTestSigningKeyCount > 0);
    const std::string holds = updateToolIsKeyed() ? "" : refusal("the signature does not match");

    std::string digest;
    {
        PackageDigest d;
        d.add(kArchiveBytes.data(), static_cast<DWORD>(kArchiveBytes.size()));
        digest = d.finishHex();
    }
    const std::string good = signatureText(0, "update\n72\n" + digest);
    ASSERT_EQ(good.size(), 88u);
    // A lax decoder reads the same 64 bytes when the last character's four unused
    // bits are set: a second spelling of the one signature.
    std::string straySpelling = good;
    straySpelling[85] = kAlphabet[kAlphabet.find(good[85]) | 1];
    std::string upperDigest = digest;
    std::transform(upperDigest.begin(), upperDigest.end(), upperDigest.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    std::string urlSafe = good;
    urlSafe[10] = '-';

    const std::string malformed = refusal("the signature " + sigPath + " is malformed");
    const std::string mismatch = refusal("the signature does not match");
    const struct {
        const char* what;
        std::string sig, printed;
        std::wstring version = L"72";
    } cases[] = {
        {"the signature", good, holds},
        {"with a line end", good + "\n", holds},
        {"with a CRLF line end", good + "\r\n", holds},
        {"by the next key", signatureText(1, "update\n72\n" + digest), holds},
        {"of a version in Chinese, sent in UTF-8", signatureText(0, "update\n\xe7\x89\x88" "72\n" + digest), holds,
         L"\x7248" L"72"},
        {"of another version", signatureText(0, "update\n73\n" + digest), mismatch},
        {"checked for another version", good, mismatch, L"73"},
        {"for a version that has no UTF-8", good, mismatch, std::wstring(L"72\xd800")},
        {"of another archive", signatureText(0, "update\n72\n" + std::string(64, '0')), mismatch},
        {"over a text with a line end", signatureText(0, "update\n72\n" + digest + "\n"), mismatch},
        {"in upper-case hex", signatureText(0, "update\n72\n" + upperDigest), mismatch},
        {"spelt with stray bits", straySpelling, malformed},
        {"87 characters", good.substr(0, 87), malformed},
        {"without its padding", good.substr(0, 86), malformed},
        {"URL-safe", urlSafe, malformed},
        {"two line ends", good + "\n\n", malformed},
        {"a CR alone", good + "\r", malformed},
        {"a blank after it", good + " ", malformed},
        {"a second line", good + "\n" + good, malformed},
        {"a blank before it", " " + good.substr(0, 87), malformed},
        {"an empty file", "", malformed},
    };
    for (const auto& c : cases)
        EXPECT_EQ(check(&c.sig, c.version), c.printed) << c.what;
}

TEST_F(UpdateToolSignature, AnArchiveWithoutAReadableSignatureOrBytesIsRefused)
{
    EXPECT_EQ(check(nullptr), refusal("no signature " + sigPath));

    makeFolder(archivePath + L".sig");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(archiveSignatureHolds(openHeldArchive(archivePath).get(), archivePath, L"72"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), refusal("the signature " + sigPath + " cannot be read"));
    RemoveDirectoryW((archivePath + L".sig").c_str());

    writeFile(archivePath + L".sig", base64(std::string(64, '\x5a')));
    const UniqueFileHandle attributesOnly(CreateFileW(archivePath.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(attributesOnly);
    const std::wstring missing = root / L"missing.zip";
    writeFile(missing + L".sig", base64(std::string(64, '\x5a')));
    const UniqueFileHandle none = openHeldArchive(missing);
    EXPECT_FALSE(none);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(archiveSignatureHolds(attributesOnly.get(), archivePath, L"72"));
    EXPECT_FALSE(archiveSignatureHolds(none.get(), missing, L"72"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              refusal("the archive cannot be read") + "refusing " + narrow(missing) + ": the archive cannot be read\n");
}

TEST_F(UpdateToolSignature, TheHeldArchiveCanBeReadButNotWrittenRenamedReplacedOrDeleted)
{
    const std::wstring other = root / L"other.zip";
    writeFile(other, "other");
    UniqueFileHandle held = openHeldArchive(archivePath);
    ASSERT_TRUE(held);

    const UniqueFileHandle writer(CreateFileW(archivePath.c_str(), GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD writeError = GetLastError();
    EXPECT_FALSE(writer);
    EXPECT_EQ(writeError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(DeleteFileW(archivePath.c_str()));
    EXPECT_FALSE(MoveFileExW(archivePath.c_str(), (root / L"moved.zip").c_str(), 0));
    EXPECT_FALSE(MoveFileExW(other.c_str(), archivePath.c_str(), MOVEFILE_REPLACE_EXISTING));
    {
        // What the unpack opens it with again (_wfopen "rb" shares reading and writing).
        const UniqueFileHandle reader(CreateFileW(archivePath.c_str(), GENERIC_READ,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(reader);
    }
    EXPECT_EQ(readFile(archivePath), kArchiveBytes);

    held.reset();
    EXPECT_TRUE(DeleteFileW(archivePath.c_str())) << "only the held handle kept the archive";
}

} // namespace
