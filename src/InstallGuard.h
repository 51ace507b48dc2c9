#pragma once

#include <windows.h>

#include <string>

// One install at a time per install root. Two launchers started together (a double
// click that counts twice) would otherwise share one download file, staging folder
// and version folder: one truncating the other's download, or deleting the folder the
// other has just installed and started.
//
// The guard is a named mutex of the install root, in the session's own namespace, so
// another user's session can neither take it nor keep it taken. Whoever takes it
// holds it until the process ends, even when its worker outlives the dialog.
class InstallGuard {
public:
    // `installRoot` as the launcher names it (ANSI code page); not empty.
    explicit InstallGuard(const std::string& installRoot);

    InstallGuard(const InstallGuard&) = delete;
    InstallGuard& operator=(const InstallGuard&) = delete;

    // True when this process now holds the root's mutex, also when its last holder
    // ended without letting go; false when another running launcher holds it. Never
    // waits. A mutex that cannot be created at all is no reason to refuse an install:
    // true.
    bool take();

    // Marks `dialog` as the one of the install under way, for a second launcher's
    // showHolder to find.
    void markDialog(HWND dialog) const;

    // Brings the dialog of the launcher that holds the mutex to the front, restored
    // when it was minimized. Nothing when that launcher shows none (yet).
    void showHolder() const;

private:
    std::wstring m_propertyName; // "ZorvikUpdate.install:" and the root, upper case, "/" for "\"
    std::wstring m_mutexName;    // "Local\" and the property name
};
