// Receives OutputDebugStringA output the way a debug-output viewer does, through the
// DBWIN_BUFFER shared memory, and keeps every string byte for byte (wine's own
// +debugstr channel escapes and cuts them).
//
//   debug_listener OUTPUT_FILE
//
// Each string becomes one record in OUTPUT_FILE: "<pid> <length>\n", the bytes, "\n".
// The listener creates OUTPUT_FILE.ready once it listens and stops when a file
// OUTPUT_FILE.stop appears (or when it is killed).
#include <windows.h>

#include <cstring>
#include <string>

namespace {

struct DbwinBuffer {
    DWORD processId;
    char data[4096 - sizeof(DWORD)];
};

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool writeAll(HANDLE file, const char* data, size_t size)
{
    DWORD written = 0;
    return WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    const std::wstring output = argv[1];

    HANDLE bufferReady = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
    HANDLE dataReady = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(DbwinBuffer), L"DBWIN_BUFFER");
    if (!bufferReady || !dataReady || !mapping)
        return 3;
    auto* buffer = static_cast<DbwinBuffer*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    HANDLE file = CreateFileW(output.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!buffer || file == INVALID_HANDLE_VALUE)
        return 3;

    HANDLE ready = CreateFileW((output + L".ready").c_str(), GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    CloseHandle(ready);

    SetEvent(bufferReady);
    while (!exists(output + L".stop")) {
        if (WaitForSingleObject(dataReady, 100) != WAIT_OBJECT_0)
            continue;
        const size_t length = strnlen(buffer->data, sizeof(buffer->data));
        const std::string header =
            std::to_string(buffer->processId) + " " + std::to_string(length) + "\n";
        if (!writeAll(file, header.data(), header.size()) ||
            !writeAll(file, buffer->data, length) || !writeAll(file, "\n", 1))
            return 4;
        SetEvent(bufferReady);
    }
    CloseHandle(file);
    return 0;
}
