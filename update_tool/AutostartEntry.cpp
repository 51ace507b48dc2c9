#include "update_tool/AutostartEntry.h"

#include "common/UniqueHandle.h"

#include <windows.h>

#include <cstdio>

namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kValueName[] = L"TarnvaleERP";

void reportFailure(bool write, LONG status)
{
    if (write)
        std::printf("failed to open regedit.%d\n", static_cast<int>(status));
    else
        std::printf("failed to open regedit. %d\n", static_cast<int>(status));
}

} // namespace

void setAutostartEntry(const std::wstring& command, bool write)
{
    HKEY opened = nullptr;
    const LONG openStatus = RegOpenKeyW(HKEY_CURRENT_USER, kRunKey, &opened);
    const UniqueRegKey key(opened);
    if (openStatus != ERROR_SUCCESS) {
        reportFailure(write, openStatus);
        return;
    }

    if (write) {
        const DWORD size = static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t));
        const LONG status = RegSetValueExW(key.get(), kValueName, 0, REG_EXPAND_SZ,
                                           reinterpret_cast<const BYTE*>(command.c_str()), size);
        if (status != ERROR_SUCCESS) {
            reportFailure(write, status);
            return;
        }
        std::printf("success to write run key\n");
    } else {
        const LONG status = RegDeleteValueW(key.get(), kValueName);
        if (status != ERROR_SUCCESS) {
            reportFailure(write, status);
            return;
        }
        std::printf("success to delete run key\n");
    }
}
