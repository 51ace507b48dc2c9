#include "update_tool/RecordVersion.h"

#include "common/UniqueHandle.h"
#include "update_tool/ConsoleText.h"

#include <windows.h>

#include <cstdio>

int recordVersion(const std::wstring& recordPath, const std::wstring& version)
{
    std::string bytes;
    for (const wchar_t c : version) {
        if (static_cast<unsigned>(c) > 0xFF)
            break;
        bytes += static_cast<char>(c);
    }

    const UniqueFileHandle file(CreateFileW(recordPath.c_str(), GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    bool recorded = static_cast<bool>(file);
    if (recorded && !bytes.empty()) {
        DWORD written = 0;
        recorded = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                   written == bytes.size();
    }
    if (!recorded) {
        // The files are in place by now; without this line nobody learns that the
        // installation's version is not on record.
        std::printf("%s", consoleText(L"Error writing the version record " + recordPath + L"\n").c_str());
        return -1;
    }
    return 0;
}
