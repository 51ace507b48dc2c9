#include "common/ZipExtraction.h"

#include "common/AnsiText.h"
#include "common/FileSystem.h"
#include "common/FolderLink.h"
#include "common/PathSafety.h"
#include "common/UniqueHandle.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr unsigned kCopyBufferSize = 8192;

constexpr uLong kUtf8NameFlag = 1u << 11;

// The name as the file system keeps it: Windows drops trailing dots and blanks from a
// name, but the \\?\ form would keep them, and leave folders no ordinary call can
// reach. So each name is trimmed here, "." and empty names are dropped, and the names
// are joined with backslashes; a folder entry keeps its trailing one.
std::wstring asFileSystemNames(const std::wstring& name)
{
    std::wstring out;
    std::size_t start = 0;
    while (start < name.size()) {
        std::size_t end = start;
        while (end < name.size() && !isSeparator(name[end]))
            ++end;
        std::wstring component = name.substr(start, end - start);
        while (!component.empty() && (component.back() == L'.' || component.back() == L' '))
            component.pop_back();
        if (!component.empty())
            out += (out.empty() ? L"" : L"\\") + component;
        start = end + 1;
    }
    if (!out.empty() && isSeparator(name.back()))
        out += L'\\';
    return out;
}

bool isDirectory(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
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

// Creates the folder `path` (UTF-16, of any length the platform takes) and every
// missing folder above it, below its first `rootLength` characters, which name a
// folder that exists: only what follows is created, and only that is shown in the
// message. A single trailing "/" is ignored. Returns 1 when done; 0 for a path that
// names no folder below the root; and 0, with the message "couldn't create directory
// %s\n" (the folder below the root, in the ANSI code page), when a folder cannot be
// created for any reason but that it exists.
int makeDirectory(const std::wstring& path, std::size_t rootLength)
{
    std::wstring copy = path;
    if (!copy.empty() && copy.back() == L'/')
        copy.pop_back();
    if (copy.size() <= rootLength)
        return 0;
    if (CreateDirectoryW(copy.c_str(), nullptr))
        return 1;
    for (std::size_t i = rootLength + 1; i <= copy.size(); ++i) {
        if (i < copy.size() && !isSeparator(copy[i]))
            continue;
        const std::wstring prefix = copy.substr(0, i);
        // Past an existing folder, any failure ends it: a folder that cannot be made
        // leaves every deeper one unmade too, and trying them all in a tree thousands
        // deep would take a path lookup of growing length for each.
        if (!CreateDirectoryW(prefix.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            std::printf("couldn't create directory %s\n", toAnsi(prefix.substr(rootLength)).c_str());
            return 0;
        }
    }
    return 1;
}

// Holds the folders from the current directory down to `folderPart` (a path below
// `root`, the current directory's \\?\ form), creating the missing ones when `create`
// is set. False, after a line naming the entry and the link, when one of them is a
// link: nothing may be written through it.
bool holdEntryFolders(const std::wstring& root, const std::wstring& folderPart, const char* name, bool create,
                      std::vector<UniqueFileHandle>& held)
{
    std::wstring rootPlace;
    UniqueFileHandle rootFolder = holdNamedFolder(root, rootPlace);
    if (!rootFolder)
        return true; // nothing can be written there either
    held.push_back(std::move(rootFolder));
    std::wstring link;
    FolderChain chain = holdFoldersBelow(root, rootPlace, folderPart, held, link);
    if (chain == FolderChain::Missing && create) {
        held.resize(1);
        makeDirectory(root + folderPart, root.size());
        chain = holdFoldersBelow(root, rootPlace, folderPart, held, link);
    }
    if (chain != FolderChain::Link)
        return true;
    std::printf("refusing %s: the folder %s is a link\n", name, toAnsi(link).c_str());
    return false;
}

// A new file beside `target`, which it will replace by a rename once it is written:
// writing over the old one in place would carry the data through a hard link planted
// there to another file, or through a file link to its target.
std::FILE* openReplacement(const std::wstring& target, std::wstring& replacement)
{
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        // Named apart from the entry: the entry's own name may leave no room to grow.
        replacement = target.substr(0, target.find_last_of(L'\\') + 1) + L"~unpack" + std::to_wstring(attempt) + L".tmp";
        const HANDLE file = CreateFileW(replacement.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS)
                continue;
            return nullptr;
        }
        const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), 0);
        std::FILE* stream = descriptor == -1 ? nullptr : _fdopen(descriptor, "wb");
        if (!stream) {
            if (descriptor == -1)
                CloseHandle(file);
            else
                _close(descriptor);
            DeleteFileW(replacement.c_str());
        }
        return stream;
    }
    return nullptr;
}

int closeEntryReporting(unzFile archive)
{
    const int status = unzCloseCurrentFile(archive);
    if (status != UNZ_OK)
        std::printf("error %d with zipfile in unzCloseCurrentFile\n", status);
    return status;
}

// An entry's name three ways: its bytes as the archive holds them (up to a 0 byte),
// decoded (the name the file system is given), and as the lines name the entry.
struct EntryName {
    std::string bytes;
    std::wstring wide;
    std::string shown;
};

// Reads the current entry's header and its name's bytes. The name is read whole, so
// that a refusal can say which entry it was. The reader terminates it only when it
// fits: it gets one byte less than the buffer, whose last byte stays 0.
int readEntryHeader(unzFile archive, unz_file_info64& info, std::string& bytes)
{
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
    bytes = nameBuffer.c_str(); // a name holding a 0 byte ends there
    return UNZ_OK;
}

// Decodes the name's bytes and refuses, with a line, a name that may not be written.
// Such an entry is never written, and the package it came in is not whole.
int decodeEntryName(uLong flag, EntryName& name)
{
    // Bit 11 of the flags: the name is UTF-8, as zip tools on Linux and macOS write it;
    // otherwise it is in the ANSI code page, as Chinese Windows tools write it.
    const bool utf8 = (flag & kUtf8NameFlag) != 0;
    name.wide = utf8 ? fromUtf8(name.bytes) : fromAnsi(name.bytes);
    name.shown = utf8 ? toAnsi(name.wide) : name.bytes;
    if (!name.bytes.empty() && name.wide.empty()) {
        std::printf("refusing %s: the name is not valid UTF-8\n", name.bytes.c_str());
        return UNZ_ERRNO;
    }
    // Checked as decoded: that is the name the file system is given.
    if (!isSafeRelativePath(std::wstring_view(name.wide))) {
        std::printf("refusing %s: the name points outside the destination folder\n", name.shown.c_str());
        return UNZ_ERRNO;
    }
    return UNZ_OK;
}

// Where a checked name goes. Written through the absolute \\?\ form, so that deep
// trees (a packaged web application's node_modules) past MAX_PATH unpack whole.
struct EntryPlace {
    std::wstring root;                          // the current directory, ending in a backslash
    std::wstring target;                        // the entry's path
    std::wstring entryPath;                     // the same without trailing separators
    std::size_t parentEnd = std::wstring::npos; // the last backslash of entryPath
    bool below = false;                         // target is below root: else nothing is written
    std::wstring folderPart;                    // the folders from root down to the entry
};

// The platform's own resolution of the checked name (dots and blanks trimmed as for
// any call) gives the path; it stays below the current directory.
EntryPlace placeEntry(const std::wstring& wideName)
{
    EntryPlace place;
    place.root = longPathForm(L".");
    if (!place.root.empty() && place.root.back() != L'\\')
        place.root += L'\\';
    place.target = longPathForm(asFileSystemNames(wideName));
    constexpr std::size_t kLongestPath = 32767; // of any path the platform takes
    place.below = !place.root.empty() && place.target.size() > place.root.size() &&
                  place.target.size() <= kLongestPath && place.target.compare(0, place.root.size(), place.root) == 0;
    place.entryPath = withoutTrailingSeparators(place.target);
    place.parentEnd = place.entryPath.find_last_of(L'\\');
    if (place.below && place.parentEnd != std::wstring::npos && place.parentEnd > place.root.size())
        place.folderPart = place.entryPath.substr(place.root.size(), place.parentEnd - place.root.size());
    return place;
}

int extractFolderEntry(const EntryPlace& place, const char* name, EntryOutcome& outcome)
{
    std::printf("creating directory: %s\n", name);
    // Held until the entry is made, so that no folder on the way can be swapped for a
    // link meanwhile. Python's zipfile, jar and pack itself write a folder entry
    // without entries for its parents, so the whole path is made, as for a file
    // entry's folders, and held like theirs. An existing folder is fine.
    std::vector<UniqueFileHandle> heldFolders;
    if (place.below && !holdEntryFolders(place.root, place.folderPart, name, true, heldFolders))
        return UNZ_ERRNO;
    if (place.below && !CreateDirectoryW(place.target.c_str(), nullptr) && !isDirectory(place.target))
        makeDirectory(place.entryPath, place.root.size());
    if (!place.below || !isDirectory(place.target)) {
        std::printf("couldn't create directory %s\n", name);
        return UNZ_ERRNO;
    }
    outcome = EntryOutcome::Extracted;
    return UNZ_OK;
}

// The new file for the entry's data beside its place (see openReplacement), or null.
// A folder in the entry's place, or a file name longer than any file system takes,
// cannot take the file: found before anything is written.
std::FILE* openEntryOutput(const EntryPlace& place, std::wstring& replacement)
{
    constexpr std::size_t kLongestName = 255;
    const bool cannotTakeFile =
        place.below && (isDirectory(place.target) || place.entryPath.size() - place.parentEnd - 1 > kLongestName);
    return place.below && !cannotTakeFile ? openReplacement(place.target, replacement) : nullptr;
}

// Copies the open entry's data into `output` through `buffer`; UNZ_OK when exactly
// `declaredSize` bytes came and went out, otherwise the status that stopped it.
int copyEntryData(unzFile archive, char* buffer, std::FILE* output, ZPOS64_T declaredSize)
{
    ZPOS64_T copied = 0;
    for (;;) {
        const int read = unzReadCurrentFile(archive, buffer, kCopyBufferSize);
        if (read < 0) {
            std::printf("error %d with zipfile in unzReadCurrentFile\n", read);
            return read;
        }
        if (read == 0) {
            // NB: the reader checks the CRC only after it has delivered the declared
            // size. Data that ends early (a deflate stream cut short by damage, stored
            // data shorter than declared, a size that claims gigabytes) would otherwise
            // pass as a whole, verified file.
            if (copied != declaredSize) {
                std::printf("error %d with zipfile in unzReadCurrentFile\n", UNZ_BADZIPFILE);
                return UNZ_BADZIPFILE;
            }
            return UNZ_OK;
        }
        if (std::fwrite(buffer, static_cast<std::size_t>(read), 1, output) != 1) {
            std::printf("error in writing extracted file\n");
            return UNZ_ERRNO;
        }
        copied += static_cast<ZPOS64_T>(read);
    }
}

// Writes the open entry's data into `output`, the replacement, and renames that over
// `target`; UNZ_OK, or the status of what failed.
int writeEntryFile(unzFile archive, const unz_file_info64& info, char* buffer, UniqueStdioFile output,
                   const std::wstring& replacement, const std::wstring& target, const char* name)
{
    // Unbuffered, so each block is one write and a failing write shows at once
    // instead of in a flush at close that nobody checks.
    std::setvbuf(output.get(), nullptr, _IONBF, 0);
    int copyStatus = copyEntryData(archive, buffer, output.get(), info.uncompressed_size);
    // The stream is unbuffered, so nothing is written after the times are set.
    if (copyStatus == UNZ_OK)
        setFileTimes(output.get(), info.dosDate);
    output.reset();
    // A rename replaces the old file's name, never its data: a hard link or a file
    // link planted there keeps the other file as it was. What came of an entry that
    // is not whole takes the old file's place too, as a write in place would leave it.
    if (!MoveFileExW(replacement.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(replacement.c_str());
        if (copyStatus == UNZ_OK) {
            std::printf("error opening %s\n", name);
            copyStatus = UNZ_ERRNO;
        }
    }
    return copyStatus;
}

// Opens the current entry's data for reading, with a line when it cannot be.
int openEntryData(unzFile archive)
{
    const int openStatus = unzOpenCurrentFilePassword(archive, nullptr);
    if (openStatus != UNZ_OK) {
        std::printf("error %d with zipfile in unzOpenCurrentFilePassword\n", openStatus);
        unzCloseCurrentFile(archive);
    }
    return openStatus;
}

int extractFileEntry(unzFile archive, const unz_file_info64& info, const EntryPlace& place, const char* name,
                     char* buffer, EntryOutcome& outcome)
{
    const int openStatus = openEntryData(archive);
    if (openStatus != UNZ_OK)
        return openStatus;
    // Held until the entry is written, so that no folder on the way can be swapped
    // for a link meanwhile.
    std::vector<UniqueFileHandle> heldFolders;
    if (place.below && !holdEntryFolders(place.root, place.folderPart, name, true, heldFolders)) {
        unzCloseCurrentFile(archive);
        return UNZ_ERRNO;
    }
    std::wstring replacement;
    UniqueStdioFile output(openEntryOutput(place, replacement));
    if (!output) {
        std::printf("error opening %s\n", name);
        const int closeStatus = closeEntryReporting(archive);
        return closeStatus == UNZ_OK ? UNZ_ERRNO : closeStatus;
    }
    std::printf(" extracting: %s\n", name);
    const int copyStatus = writeEntryFile(archive, info, buffer, std::move(output), replacement, place.target, name);
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

} // namespace

int extractEntry(unzFile archive)
{
    EntryOutcome ignored = EntryOutcome::Failed;
    return extractEntry(archive, ignored);
}

int extractEntry(unzFile archive, EntryOutcome& outcome)
{
    outcome = EntryOutcome::Failed;
    unz_file_info64 info{};
    EntryName name;
    int status = readEntryHeader(archive, info, name.bytes);
    if (status == UNZ_OK)
        status = decodeEntryName(info.flag, name);
    if (status != UNZ_OK)
        return status;

    const std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCopyBufferSize]);
    if (!buffer) {
        std::printf("Error allocating memory\n");
        return UNZ_INTERNALERROR;
    }
    const EntryPlace place = placeEntry(name.wide);
    if (isSeparator(name.wide.back()))
        return extractFolderEntry(place, name.shown.c_str(), outcome);
    return extractFileEntry(archive, info, place, name.shown.c_str(), buffer.get(), outcome);
}
