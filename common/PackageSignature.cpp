#include "common/PackageSignature.h"

#include "PackageKey.h" // generated from ZORVIK_PACKAGE_KEY when CMake configures
#include "common/UniqueHandle.h"

#include <bcrypt.h>

#include <stdexcept>
#include <vector>

namespace {

void closeAlgorithm(BCRYPT_ALG_HANDLE algorithm) noexcept
{
    BCryptCloseAlgorithmProvider(algorithm, 0);
}

using UniqueAlgorithm = UniqueAny<BCRYPT_ALG_HANDLE, handle_detail::Empty::Null, &closeAlgorithm>;
using UniqueHash = UniqueAny<BCRYPT_HASH_HANDLE, handle_detail::Empty::Null, &::BCryptDestroyHash>;
using UniqueKey = UniqueAny<BCRYPT_KEY_HANDLE, handle_detail::Empty::Null, &::BCryptDestroyKey>;

UniqueAlgorithm openAlgorithm(LPCWSTR name)
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, name, nullptr, 0)))
        return nullptr;
    return UniqueAlgorithm(algorithm);
}

} // namespace

struct PackageDigest::State {
    UniqueAlgorithm algorithm;
    std::vector<UCHAR> object; // the hash's working memory, owned by us, used by CNG
    UniqueHash hash;

    ~State()
    {
        // The hash lives in `object` and belongs to `algorithm`: it goes first.
        hash.reset();
        object.clear();
        algorithm.reset();
    }
};

PackageDigest::PackageDigest() : m_state(std::make_unique<State>())
{
    m_state->algorithm = openAlgorithm(BCRYPT_SHA256_ALGORITHM);
    DWORD objectSize = 0;
    ULONG written = 0;
    if (!m_state->algorithm ||
        !BCRYPT_SUCCESS(BCryptGetProperty(m_state->algorithm.get(), BCRYPT_OBJECT_LENGTH,
                                          reinterpret_cast<PUCHAR>(&objectSize), sizeof(objectSize), &written, 0)))
        throw std::runtime_error("CNG offers no SHA-256");
    m_state->object.resize(objectSize);
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(m_state->algorithm.get(), &hash, m_state->object.data(), objectSize,
                                         nullptr, 0, 0)))
        throw std::runtime_error("CNG cannot create a SHA-256 hash");
    m_state->hash.reset(hash);
}

PackageDigest::~PackageDigest() = default;

void PackageDigest::add(const void* data, DWORD size)
{
    // CNG takes a non-const buffer but only reads it.
    if (!BCRYPT_SUCCESS(BCryptHashData(m_state->hash.get(), static_cast<PUCHAR>(const_cast<void*>(data)), size, 0)))
        throw std::runtime_error("CNG refused bytes to hash");
}

std::array<unsigned char, 32> PackageDigest::finish()
{
    std::array<unsigned char, 32> digest{};
    if (!BCRYPT_SUCCESS(BCryptFinishHash(m_state->hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0)))
        throw std::runtime_error("CNG cannot finish the SHA-256 hash");
    return digest;
}

std::string PackageDigest::finishHex()
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : finish()) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

const PackageKeys& builtInPackageKeys()
{
    static_assert(kPackageKeyCount <= 2, "a launcher takes the key in use and the next one");
    static const PackageKeys keys = [] {
        PackageKeys all;
        for (unsigned k = 0; k < kPackageKeyCount; ++k) {
            PackageKey point{};
            for (size_t i = 0; i < point.size(); ++i)
                point[i] = kPackageKeyPoints[k][i];
            all.push_back(point);
        }
        return all;
    }();
    return keys;
}

bool signatureVerifies(const PackageKey& key, const std::string& text, const std::string& signature)
{
    if (signature.size() != 64)
        return false;
    try {
        PackageDigest digest;
        digest.add(text.data(), static_cast<DWORD>(text.size()));
        std::array<unsigned char, 32> hash = digest.finish();

        struct {
            BCRYPT_ECCKEY_BLOB header;
            unsigned char point[64];
        } blob{{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32}, {}};
        static_assert(sizeof(blob) == sizeof(BCRYPT_ECCKEY_BLOB) + 64, "the blob is the header and X||Y");
        for (size_t i = 0; i < key.size(); ++i)
            blob.point[i] = key[i];

        const UniqueAlgorithm algorithm = openAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
        BCRYPT_KEY_HANDLE rawKey = nullptr;
        if (!algorithm || !BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &rawKey,
                                                              reinterpret_cast<PUCHAR>(&blob), sizeof(blob), 0)))
            return false;
        UniqueKey publicKey(rawKey);
        std::string raw = signature;
        const NTSTATUS status =
            BCryptVerifySignature(publicKey.get(), nullptr, hash.data(), static_cast<ULONG>(hash.size()),
                                  reinterpret_cast<PUCHAR>(raw.data()), static_cast<ULONG>(raw.size()), 0);
        // The key belongs to the algorithm provider: it goes first.
        publicKey.reset();
        return status == 0; // STATUS_SUCCESS; STATUS_INVALID_SIGNATURE and every failure are no
    } catch (const std::exception&) {
        return false;
    }
}

bool signatureVerifiesWithAny(const PackageKeys& keys, const std::string& text, const std::string& signature)
{
    for (const PackageKey& key : keys) {
        if (signatureVerifies(key, text, signature))
            return true;
    }
    return false;
}
