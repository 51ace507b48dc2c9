#include "update_tool/RecordVersion.h"

#include "common/UniqueHandle.h"

#include <windows.h>

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
    if (!file)
        return 0;
    DWORD written = 0;
    if (!bytes.empty())
        WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return 0;
}
