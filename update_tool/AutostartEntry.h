#pragma once

#include <string>

// Writes (`write` true) or removes the per-user autostart value "TarnvaleERP" below
// HKCU\Software\Microsoft\Windows\CurrentVersion\Run. The value is REG_EXPAND_SZ
// and holds `command` exactly as given, with no quotes added; the key is opened,
// never created. Prints "success to write run key" / "success to delete run key",
// or the failure line with the registry's error code.
void setAutostartEntry(const std::wstring& command, bool write);
