#include "tests/support/TestFiles.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::atomic<unsigned> g_folderCounter{0};

} // namespace

TempFolder::TempFolder()
{
    wchar_t base[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, base);
    m_path = std::wstring(base) + L"zt" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++g_folderCounter);
    if (!CreateDirectoryW(m_path.c_str(), nullptr))
        throw std::runtime_error("cannot create a temporary folder");
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(m_path, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(m_path, ignored);
}

CurrentDirectory::CurrentDirectory(const std::wstring& folder) : m_previous(currentDirectory())
{
    if (!SetCurrentDirectoryW(folder.c_str()))
        throw std::runtime_error("cannot enter a test folder");
}

CurrentDirectory::~CurrentDirectory()
{
    SetCurrentDirectoryW(m_previous.c_str());
}

std::wstring currentDirectory()
{
    std::wstring path(GetCurrentDirectoryW(0, nullptr), L'\0');
    path.resize(GetCurrentDirectoryW(static_cast<DWORD>(path.size()), path.data()));
    return path;
}

void writeFile(const std::wstring& path, const std::string& bytes)
{
    std::ofstream out(fs::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write a test file");
}

std::string readFile(const std::wstring& path)
{
    std::ifstream in(fs::path(path), std::ios::binary);
    if (!in)
        return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool fileExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool folderExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void makeFolder(const std::wstring& path)
{
    if (!CreateDirectoryW(path.c_str(), nullptr))
        throw std::runtime_error("cannot create a test folder");
}

void writeFile(const std::string& path, const std::string& bytes)
{
    writeFile(widen(path), bytes);
}

std::string readFile(const std::string& path)
{
    return readFile(widen(path));
}

bool fileExists(const std::string& path)
{
    return fileExists(widen(path));
}

bool folderExists(const std::string& path)
{
    return folderExists(widen(path));
}

void makeFolder(const std::string& path)
{
    makeFolder(widen(path));
}

std::vector<std::wstring> listTree(const std::wstring& root)
{
    std::vector<std::wstring> items;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(root, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        std::wstring relative = it->path().lexically_relative(root).wstring();
        std::replace(relative.begin(), relative.end(), L'/', L'\\');
        if (it->is_directory(ignored))
            relative += L'\\';
        items.push_back(relative);
    }
    std::sort(items.begin(), items.end());
    return items;
}
