#include "common/ZipExtraction.h"

#include "common/FileSystem.h"
#include "common/PathSafety.h"
#include "common/UniqueHandle.h"

#include <windows.h>

#include <direct.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

constexpr unsigned kLongestName = 255; // bytes
constexpr unsigned kCopyBufferSize = 8192;

bool isDirectory(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The entry's DOS date (high word) and time (low word) are local time; the file
// system wants UTC. Set on the handle the data went through, not by reopening the
// name: a second open per entry is the costliest step of a large unpack under wine.
// The last-access time (null) stays as the system set it.
void setFileTimes(std::FILE* output, uLong dosDateTime)
{
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(output)));
    if (file == INVALID_HANDLE_VALUE)
        return;
    FILETIME local{}, utc{};
    if (!DosDateTimeToFileTime(HIWORD(dosDateTime), LOWORD(dosDateTime), &local) ||
        !LocalFileTimeToFileTime(&local, &utc))
        return;
    SetFileTime(file, &utc, nullptr, &utc);
}

int closeEntryReporting(unzFile archive)
{
    const int status = unzCloseCurrentFile(archive);
    if (status != UNZ_OK)
        std::printf("error %d with zipfile in unzCloseCurrentFile\n", status);
    return status;
}

} // namespace

int extractEntry(unzFile archive)
{
    EntryOutcome ignored = EntryOutcome::Failed;
    return extractEntry(archive, ignored);
}

int extractEntry(unzFile archive, EntryOutcome& outcome)
{
    outcome = EntryOutcome::Failed;

    // The name is read whole, so that a refusal can say which entry it was. The
    // reader terminates it only when it fits: it gets one byte less than the buffer,
    // whose last byte stays 0. A name holding a 0 byte ends there.
    unz_file_info64 info{};
    int infoStatus = unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0);
    std::string nameBuffer;
    if (infoStatus == UNZ_OK) {
        try {
            nameBuffer.assign(static_cast<std::size_t>(info.size_filename) + 1, '\0');
        } catch (const std::bad_alloc&) {
            std::printf("Error allocating memory\n");
            return UNZ_INTERNALERROR;
        }
        infoStatus = unzGetCurrentFileInfo64(archive, &info, nameBuffer.data(), info.size_filename, nullptr, 0,
                                             nullptr, 0);
    }
    if (infoStatus != UNZ_OK) {
        std::printf("error %d with zipfile in unzGetCurrentFileInfo\n", infoStatus);
        return infoStatus;
    }
    const char* const name = nameBuffer.c_str();
    // Such an entry is never written, and the package it came in is not whole.
    if (info.size_filename > kLongestName) {
        std::printf("refusing %s: the name is longer than %u bytes\n", name, kLongestName);
        return UNZ_ERRNO;
    }
    if (!isSafeRelativePath(name)) {
        std::printf("refusing %s: the name points outside the destination folder\n", name);
        return UNZ_ERRNO;
    }

    const std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCopyBufferSize]);
    if (!buffer) {
        std::printf("Error allocating memory\n");
        return UNZ_INTERNALERROR;
    }

    const std::size_t nameLength = std::strlen(name);
    std::size_t folderLength = 0; // the name up to its last separator
    for (std::size_t i = 0; i < nameLength; ++i) {
        if (isSeparator(name[i]))
            folderLength = i;
    }
    const bool hasFolderPart = folderLength > 0;

    if (isSeparator(name[nameLength - 1])) {
        std::printf("creating directory: %s\n", name);
        _mkdir(name); // an existing folder is fine
        if (!isDirectory(name)) {
            std::printf("couldn't create directory %s\n", name);
            return UNZ_ERRNO;
        }
        outcome = EntryOutcome::Extracted;
        return UNZ_OK;
    }

    const int openStatus = unzOpenCurrentFilePassword(archive, nullptr);
    if (openStatus != UNZ_OK) {
        std::printf("error %d with zipfile in unzOpenCurrentFilePassword\n", openStatus);
        unzCloseCurrentFile(archive);
        return openStatus;
    }

    UniqueStdioFile output(std::fopen(name, "wb"));
    if (!output && hasFolderPart) {
        const std::string folder(name, folderLength);
        makeDirectory(folder.c_str());
        output.reset(std::fopen(name, "wb"));
    }
    if (!output) {
        std::printf("error opening %s\n", name);
        const int closeStatus = closeEntryReporting(archive);
        return closeStatus == UNZ_OK ? UNZ_ERRNO : closeStatus;
    }

    std::printf(" extracting: %s\n", name);
    // Unbuffered, so each block is one write and a failing write shows at once
    // instead of in a flush at close that nobody checks.
    std::setvbuf(output.get(), nullptr, _IONBF, 0);
    int copyStatus = UNZ_OK;
    ZPOS64_T copied = 0;
    for (;;) {
        const int read = unzReadCurrentFile(archive, buffer.get(), kCopyBufferSize);
        if (read < 0) {
            std::printf("error %d with zipfile in unzReadCurrentFile\n", read);
            copyStatus = read;
            break;
        }
        if (read == 0) {
            // NB: the reader checks the CRC only after it has delivered the declared
            // size. Data that ends early (a deflate stream cut short by damage, stored
            // data shorter than declared, a size that claims gigabytes) would otherwise
            // pass as a whole, verified file.
            if (copied != info.uncompressed_size) {
                std::printf("error %d with zipfile in unzReadCurrentFile\n", UNZ_BADZIPFILE);
                copyStatus = UNZ_BADZIPFILE;
            }
            break;
        }
        if (std::fwrite(buffer.get(), static_cast<std::size_t>(read), 1, output.get()) != 1) {
            std::printf("error in writing extracted file\n");
            copyStatus = UNZ_ERRNO;
            break;
        }
        copied += static_cast<ZPOS64_T>(read);
    }
    // The stream is unbuffered, so nothing is written after the times are set.
    if (copyStatus == UNZ_OK)
        setFileTimes(output.get(), info.dosDate);
    output.reset();

    if (copyStatus != UNZ_OK) {
        unzCloseCurrentFile(archive);
        return copyStatus;
    }

    // Closing the entry is where the reader compares the CRC: a mismatch shows only
    // after the data was written.
    const int closeStatus = closeEntryReporting(archive);
    if (closeStatus == UNZ_OK)
        outcome = EntryOutcome::Extracted;
    return closeStatus;
}
