// Receives OutputDebugStringA output the way a debug-output viewer does, through the
// DBWIN_BUFFER shared memory, and keeps every string byte for byte (wine's own
// +debugstr channel escapes and cuts them).
//
//   debug_listener OUTPUT_FILE [--hold TEXT]
//
// Each string becomes one record in OUTPUT_FILE: "<pid> <length>\n", the bytes, "\n".
// The listener creates OUTPUT_FILE.ready once it listens and stops when a file
// OUTPUT_FILE.stop appears (or when it is killed).
//
// --hold TEXT: after the first record that contains TEXT (compared as code page 936
// bytes, the launcher's log encoding), the listener keeps the writers' mutex
// DBWinMutex and creates OUTPUT_FILE.held. Every process that logs then waits inside
// its next OutputDebugStringA call, which waits for that mutex without a time
// limit, so a test can hold a program at a known line of its log. The hold ends
// when OUTPUT_FILE.release (or .stop) appears. A string logged right after the
// matched one may take the mutex first; then there is no hold and the listener
// creates OUTPUT_FILE.missed instead.
#include "tests/support/TextConversion.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace {

constexpr UINT kLogCodePage = 936;
// Ample for a writer between signalling its string and releasing the mutex.
constexpr DWORD kMutexTakeoverMs = 500;

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

void touch(const std::wstring& path)
{
    CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::string holdText;
    if (argc == 4 && std::wcscmp(argv[2], L"--hold") == 0) {
        holdText = narrow(argv[3], kLogCodePage);
        if (holdText.empty())
            return 2;
    } else if (argc != 2) {
        return 2;
    }
    const std::wstring output = argv[1];

    HANDLE bufferReady = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
    HANDLE dataReady = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(DbwinBuffer), L"DBWIN_BUFFER");
    // The writers' own mutex: OutputDebugStringA creates it under this name too.
    HANDLE writersMutex = CreateMutexW(nullptr, FALSE, L"DBWinMutex");
    if (!bufferReady || !dataReady || !mapping || !writersMutex)
        return 3;
    auto* buffer = static_cast<DbwinBuffer*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    HANDLE file = CreateFileW(output.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!buffer || file == INVALID_HANDLE_VALUE)
        return 3;

    touch(output + L".ready");

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

        if (!holdText.empty() && std::string(buffer->data, length).find(holdText) != std::string::npos) {
            holdText.clear(); // one hold per run
            // The writer lets go of the mutex right after signalling the data. When
            // its next string has taken the mutex first, it waits for the buffer
            // instead, but only for ten seconds: that is no hold, and says so.
            if (WaitForSingleObject(writersMutex, kMutexTakeoverMs) != WAIT_OBJECT_0) {
                touch(output + L".missed");
            } else {
                touch(output + L".held");
                while (!exists(output + L".release") && !exists(output + L".stop"))
                    Sleep(20);
                ReleaseMutex(writersMutex);
            }
        }
        SetEvent(bufferReady);
    }
    CloseHandle(file);
    return 0;
}
