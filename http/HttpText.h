// Owned narrow strings of the HTTP client: NUL-terminated heap copies whose size
// computations are checked and whose allocation failures are code 102.
#pragma once

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>

#include "http/CheckedArithmetic.h"
#include "http/HttpException.h"

namespace Varnu {

using OwnedText = std::unique_ptr<char[]>;

// Length of a NUL-terminated text; null counts as empty.
inline DWORD TextLength(LPCSTR szText)
{
    return szText ? CheckedNarrow(std::strlen(szText)) : 0;
}

// A zero-filled buffer for cchText characters and the terminator.
inline OwnedText AllocateText(DWORD cchText)
{
    OwnedText buffer(new (std::nothrow) char[CheckedAdd(cchText, 1)]());
    if (!buffer)
        RaiseHttpError(HttpErr::OutOfMemory);
    return buffer;
}

// cchText bytes of szText as a fresh NUL-terminated string.
inline OwnedText CopyText(LPCSTR szText, DWORD cchText)
{
    OwnedText copy = AllocateText(cchText);
    if (cchText != 0)
        std::memcpy(copy.get(), szText, cchText);
    return copy;
}

// A copy of szText; null stays null.
inline OwnedText CopyText(LPCSTR szText)
{
    return szText ? CopyText(szText, TextLength(szText)) : nullptr;
}

}  // namespace Varnu
