// Unsigned 32-bit size arithmetic that fails loudly instead of wrapping. Every length,
// counter and buffer size of the HTTP client goes through these.
#pragma once

#include <windows.h>

#include <cstddef>
#include <limits>

#include "http/HttpException.h"

namespace Varnu {

enum class ArithmeticFault { Overflow, DivideByZero, Other };

// Overflow is code 112, division by zero 113, anything else 111.
[[noreturn]] inline void RaiseArithmeticFault(ArithmeticFault fault)
{
    switch (fault) {
    case ArithmeticFault::Overflow: RaiseHttpError(HttpErr::ArithmeticOverflow);
    case ArithmeticFault::DivideByZero: RaiseHttpError(HttpErr::DivideByZero);
    case ArithmeticFault::Other: break;
    }
    RaiseHttpError(HttpErr::Arithmetic);
}

inline DWORD CheckedAdd(DWORD a, DWORD b)
{
    if (b > std::numeric_limits<DWORD>::max() - a)
        RaiseArithmeticFault(ArithmeticFault::Overflow);
    return a + b;
}

inline DWORD CheckedSub(DWORD a, DWORD b)
{
    if (b > a)
        RaiseArithmeticFault(ArithmeticFault::Overflow);
    return a - b;
}

inline DWORD CheckedMul(DWORD a, DWORD b)
{
    if (a != 0 && b > std::numeric_limits<DWORD>::max() / a)
        RaiseArithmeticFault(ArithmeticFault::Overflow);
    return a * b;
}

inline DWORD CheckedDiv(DWORD a, DWORD b)
{
    if (b == 0)
        RaiseArithmeticFault(ArithmeticFault::DivideByZero);
    return a / b;
}

// A size_t that must fit the 32-bit counters of the wire format.
inline DWORD CheckedNarrow(size_t n)
{
    if (n > std::numeric_limits<DWORD>::max())
        RaiseArithmeticFault(ArithmeticFault::Overflow);
    return static_cast<DWORD>(n);
}

}  // namespace Varnu
