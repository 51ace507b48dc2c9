#include "update_tool/RecordVersion.h"

#include "common/FolderLink.h"
#include "common/UniqueHandle.h"
#include "update_tool/ConsoleText.h"

#include <windows.h>

#include <cstdio>

namespace {

bool writeAll(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    return bytes.empty() ||
           (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size());
}

// True when the open `file` is the record's own data: no link of any kind, and at
// `place`. Written in place only then, so that a client reading it keeps its handle.
bool isOwnFile(HANDLE file, const std::wstring& place)
{
    BY_HANDLE_FILE_INFORMATION information{};
    return GetFileInformationByHandle(file, &information) && information.nNumberOfLinks == 1 &&
           !(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && samePlace(placeOf(file), place);
}

// Writes a new file beside the record and renames it over the record: the rename
// replaces a hard link or a file link planted there, never the file it leads to.
bool replaceRecord(const std::wstring& recordPath, const std::wstring& folder, const std::string& bytes)
{
    const std::wstring replacement = folder + L"~jsver.tmp";
    {
        const UniqueFileHandle file(CreateFileW(replacement.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file || !writeAll(file.get(), bytes)) {
            DeleteFileW(replacement.c_str());
            return false;
        }
    }
    if (MoveFileExW(replacement.c_str(), recordPath.c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    DeleteFileW(replacement.c_str());
    return false;
}

bool writeRecord(const std::wstring& recordPath, const std::string& bytes)
{
    const std::size_t nameStart = recordPath.find_last_of(L"\\/") + 1; // 0 without a folder
    const std::wstring folder = recordPath.substr(0, nameStart);
    std::wstring folderPlace;
    const UniqueFileHandle heldFolder = holdNamedFolder(folder.empty() ? L"." : folder, folderPlace);
    if (!heldFolder)
        return false;
    constexpr DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;
    // Opened as itself, and never created through a link: CREATE_NEW fails on any name
    // that is already taken, a dangling link included.
    UniqueFileHandle file(CreateFileW(recordPath.c_str(), GENERIC_WRITE, kShared, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file)
        file.reset(CreateFileW(recordPath.c_str(), GENERIC_WRITE, kShared, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return replaceRecord(recordPath, folder, bytes);
    if (!isOwnFile(file.get(), placeBelow(folderPlace, recordPath.substr(nameStart)))) {
        file.reset();
        return replaceRecord(recordPath, folder, bytes);
    }
    return SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(file.get()) &&
           writeAll(file.get(), bytes);
}

} // namespace

int recordVersion(const std::wstring& recordPath, const std::wstring& version)
{
    std::string bytes;
    for (const wchar_t c : version) {
        if (static_cast<unsigned>(c) > 0xFF)
            break;
        bytes += static_cast<char>(c);
    }

    if (!writeRecord(recordPath, bytes)) {
        // The files are in place by now; without this line nobody learns that the
        // installation's version is not on record.
        std::printf("%s", consoleText(L"Error writing the version record " + recordPath + L"\n").c_str());
        return -1;
    }
    return 0;
}
