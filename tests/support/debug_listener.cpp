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
#include "tests/support/DebugOutputBuffer.h"
#include "tests/support/TextConversion.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace {

constexpr UINT kLogCodePage = 936;
// Ample for a writer between signalling its string and releasing the mutex.
constexpr DWORD kMutexTakeoverMs = 500;

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

    DebugOutputBuffer buffer;
    // The writers' own mutex: OutputDebugStringA creates it under this name too.
    HANDLE writersMutex = CreateMutexW(nullptr, FALSE, L"DBWinMutex");
    if (!buffer.ready() || !writersMutex)
        return 3;
    HANDLE file = CreateFileW(output.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 3;

    touch(output + L".ready");

    buffer.release();
    while (!exists(output + L".stop")) {
        DWORD sender = 0;
        std::string text;
        if (!buffer.take(100, sender, text))
            continue;
        const std::string header = std::to_string(sender) + " " + std::to_string(text.size()) + "\n";
        if (!writeAll(file, header.data(), header.size()) || !writeAll(file, text.data(), text.size()) ||
            !writeAll(file, "\n", 1))
            return 4;

        if (!holdText.empty() && text.find(holdText) != std::string::npos) {
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
        buffer.release();
    }
    CloseHandle(file);
    return 0;
}
