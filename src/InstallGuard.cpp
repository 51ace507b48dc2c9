#include "src/InstallGuard.h"

#include "common/AnsiText.h"

namespace {

struct Search {
    const wchar_t* property;
    HWND found;
};

BOOL CALLBACK findMarkedWindow(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<Search*>(parameter);
    if (GetPropW(window, search->property)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

InstallGuard::InstallGuard(const std::string& installRoot)
{
    // A kernel object's name takes no backslash after its namespace, and the file
    // system ignores letter case; the root is at most 199 characters, so the name
    // stays well inside MAX_PATH and the property name inside an atom's 255.
    std::wstring root = fromAnsi(installRoot);
    if (!root.empty())
        CharUpperBuffW(root.data(), static_cast<DWORD>(root.size()));
    for (wchar_t& c : root) {
        if (c == L'\\')
            c = L'/';
    }
    m_propertyName = L"ZorvikUpdate.install:" + root;
    m_mutexName = L"Local\\" + m_propertyName;
}

bool InstallGuard::take()
{
    HANDLE mutex = CreateMutexW(nullptr, FALSE, m_mutexName.c_str());
    if (!mutex)
        return true;
    const DWORD state = WaitForSingleObject(mutex, 0);
    if (state == WAIT_TIMEOUT) {
        CloseHandle(mutex);
        return false;
    }
    // NB: the handle is never closed. The process holds the mutex until it ends, so a
    // worker still writing while the process exits is never joined by a second
    // launcher's install.
    return true;
}

void InstallGuard::markDialog(HWND dialog) const
{
    SetPropW(dialog, m_propertyName.c_str(), reinterpret_cast<HANDLE>(1));
}

void InstallGuard::showHolder() const
{
    Search search{m_propertyName.c_str(), nullptr};
    EnumWindows(findMarkedWindow, reinterpret_cast<LPARAM>(&search));
    if (!search.found)
        return;
    if (IsIconic(search.found))
        ShowWindow(search.found, SW_RESTORE);
    // The launcher the user just started may hand the foreground to the one at work.
    SetForegroundWindow(search.found);
}
