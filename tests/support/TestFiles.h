#pragma once

// Real files in a fresh temporary folder for tests of code that works on the disk.
// Paths come in the two forms the programs use side by side: UTF-16, and narrow in
// the ANSI code page, as the launcher names them.

#include "tests/support/TextConversion.h"

#include <windows.h>

#include <string>
#include <vector>

// A new, empty folder below the system's temporary folder, deleted with everything
// in it (read-only files included) when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& path() const { return m_path; }
    std::string narrowPath() const { return narrow(m_path); }
    // The path joined with a relative name by a backslash.
    std::wstring operator/(const std::wstring& name) const { return m_path + L'\\' + name; }
    std::string operator/(const std::string& name) const { return narrowPath() + '\\' + name; }

private:
    std::wstring m_path;
};

// Makes `folder` the process's current directory for the object's lifetime.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::wstring& folder);
    ~CurrentDirectory();
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

private:
    std::wstring m_previous;
};

std::wstring currentDirectory();

void writeFile(const std::wstring& path, const std::string& bytes);
void writeFile(const std::string& path, const std::string& bytes);
// The file's bytes; "<missing>" when it cannot be read.
std::string readFile(const std::wstring& path);
std::string readFile(const std::string& path);
bool fileExists(const std::wstring& path);
bool fileExists(const std::string& path);
bool folderExists(const std::wstring& path);
bool folderExists(const std::string& path);
void makeFolder(const std::wstring& path);
void makeFolder(const std::string& path);

// Every item below `root` as a sorted list of relative paths with backslashes;
// folders end in a backslash.
std::vector<std::wstring> listTree(const std::wstring& root);
