#include "update_tool/UpdateSignature.h"

#include "update_tool/UpdateStage.h"

#include "common/FileSystem.h"
#include "common/PackageSignature.h"
#include "common/SignatureText.h"
#include "update_tool/ConsoleText.h"

#include <cstdio>
#include <stdexcept>
#include <optional>
#include <vector>

namespace {

enum class SignatureFile { Read, Missing, Unreadable, Malformed };

void refuse(const std::wstring& archivePath, const std::wstring& reason)
{
    std::printf("%s", consoleText(L"refusing " + archivePath + L": " + reason + L"\n").c_str());
}

// The signature's 64 bytes from `path`: its 88 characters and at most one line end,
// which is what the release tool writes and what an editor adds when it saves.
SignatureFile readSignatureFile(const std::wstring& path, std::string& raw)
{
    const std::wstring longPath = longPathForm(path);
    if (longPath.empty())
        return SignatureFile::Missing;
    UniqueFileHandle file(CreateFileW(longPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? SignatureFile::Missing
                                                                               : SignatureFile::Unreadable;
    }
    // One byte more than the longest good file tells a longer one without reading it all.
    constexpr DWORD kLongest = kSignatureTextSize + 2;
    std::string text(kLongest + 1, '\0');
    DWORD total = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), &text[total], kLongest + 1 - total, &got, nullptr))
            return SignatureFile::Unreadable;
        total += got;
        if (got == 0 || total == kLongest + 1)
            break;
    }
    text.resize(total);
    if (text.size() > kSignatureTextSize) {
        const std::string end = text.substr(kSignatureTextSize);
        if (end != "\n" && end != "\r\n")
            return SignatureFile::Malformed;
        text.resize(kSignatureTextSize);
    }
    std::optional<std::string> decoded = decodeSignatureText(text);
    if (!decoded)
        return SignatureFile::Malformed;
    raw = *decoded;
    return SignatureFile::Read;
}

bool rewind(HANDLE archive)
{
    return SetFilePointerEx(archive, LARGE_INTEGER{}, nullptr, FILE_BEGIN) != FALSE;
}

// The lower-case hexadecimal SHA-256 of the file behind `archive`, read from the file
// pointer (its start) to its end; the pointer goes back to the start. Nothing when a
// read fails. Throws std::runtime_error when CNG cannot hash.
std::optional<std::string> archiveDigest(HANDLE archive)
{
    PackageDigest digest;
    std::vector<char> buffer(64 * 1024);
    bool read = true;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(archive, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            read = false;
            break;
        }
        if (got == 0)
            break;
        digest.add(buffer.data(), got);
    }
    if (!rewind(archive) || !read)
        return std::nullopt;
    return digest.finishHex();
}

// `text` in UTF-8; nothing for text that has none (a lone surrogate), which no release
// can have been signed for.
std::optional<std::string> utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::nullopt;
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), out.data(),
                        size, nullptr, nullptr);
    return out;
}

} // namespace

bool updateToolIsKeyed()
{
    return !builtInPackageKeys().empty();
}

UniqueFileHandle openHeldArchive(const std::wstring& path)
{
    const std::wstring longPath = longPathForm(path);
    if (longPath.empty())
        return nullptr;
    // NB: no FILE_SHARE_WRITE and no FILE_SHARE_DELETE: either would let the archive
    // change between its check and its unpack. A client that is ending may still hold
    // its download open a moment, so a sharing violation is tried again for a while.
    constexpr DWORD kRetryStepMs = 100;
    for (DWORD waited = 0;; waited += kRetryStepMs) {
        UniqueFileHandle archive(CreateFileW(longPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        if (archive || GetLastError() != ERROR_SHARING_VIOLATION || waited >= kRetrySeconds * 1000)
            return archive;
        Sleep(kRetryStepMs);
    }
}

bool archiveSignatureHolds(HANDLE archive, const std::wstring& archivePath, const std::wstring& version)
{
    return archiveSignatureHolds(archive, archivePath, archivePath, version);
}

bool archiveSignatureHolds(HANDLE archive, const std::wstring& archivePath, const std::wstring& openedPath,
                           const std::wstring& version)
{
    // Every road leaves the pointer at the start, where an unpack that reads the handle
    // begins.
    if (archive == INVALID_HANDLE_VALUE || archive == nullptr || !rewind(archive)) {
        refuse(archivePath, L"the archive cannot be read");
        return false;
    }
    const std::wstring signaturePath = archivePath + L".sig";
    std::string signature;
    switch (readSignatureFile(openedPath + L".sig", signature)) {
    case SignatureFile::Read:
        break;
    case SignatureFile::Missing:
        refuse(archivePath, L"no signature " + signaturePath);
        return false;
    case SignatureFile::Unreadable:
        refuse(archivePath, L"the signature " + signaturePath + L" cannot be read");
        return false;
    case SignatureFile::Malformed:
        refuse(archivePath, L"the signature " + signaturePath + L" is malformed");
        return false;
    }

    std::optional<std::string> sha256;
    try {
        sha256 = archiveDigest(archive);
    } catch (const std::runtime_error&) {
        // A digest CNG cannot make checks nothing: no proof, as for a bad signature.
        // Memory running out is not this, and goes on to the entry's guard.
        refuse(archivePath, L"the signature does not match");
        return false;
    }
    if (!sha256) {
        refuse(archivePath, L"the archive cannot be read");
        return false;
    }
    const std::optional<std::string> versionText = utf8(version);
    if (!versionText ||
        !signatureVerifiesWithAny(builtInPackageKeys(), "update\n" + *versionText + "\n" + *sha256, signature)) {
        refuse(archivePath, L"the signature does not match");
        return false;
    }
    return true;
}

void refuseUnsignedMove()
{
    std::printf("refusing -n: this build installs signed update archives only\n");
}
