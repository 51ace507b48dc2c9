#pragma once

// One owner per platform handle, visible in its type. Each handle kind is one line:
// the raw type, the value that means "no handle" and the function that closes it.
// The owners move but never copy, and never turn into the raw handle by themselves:
// `owner.get()` is the way to lend it to a call.

#include "common/UniqueStdioFile.h"

#include <windows.h>

#include <cstddef>
#include <memory>

namespace handle_detail {

// Kernel calls disagree on what "no handle" is: CreateFile and FindFirstFile give
// INVALID_HANDLE_VALUE, almost everything else NULL. Mixing them up closes a bogus
// handle or leaks a real one, so each kind names its own.
enum class Empty { Null, Invalid };

template <typename T, Empty E>
class Value {
public:
    Value() noexcept = default;
    Value(std::nullptr_t) noexcept {}
    Value(T raw) noexcept : m_raw(raw) {}

    // Lending the raw handle to a platform call is what get() is for.
    operator T() const noexcept { return m_raw; }
    explicit operator bool() const noexcept { return m_raw != none(); }

    friend bool operator==(Value a, Value b) noexcept { return a.m_raw == b.m_raw; }
    friend bool operator!=(Value a, Value b) noexcept { return a.m_raw != b.m_raw; }
    // unique_ptr asks "is it empty?" by comparing with nullptr.
    friend bool operator==(Value a, std::nullptr_t) noexcept { return a.m_raw == none(); }
    friend bool operator!=(Value a, std::nullptr_t) noexcept { return a.m_raw != none(); }
    friend bool operator==(std::nullptr_t, Value a) noexcept { return a.m_raw == none(); }
    friend bool operator!=(std::nullptr_t, Value a) noexcept { return a.m_raw != none(); }

    static T none() noexcept
    {
        if constexpr (E == Empty::Invalid)
            return INVALID_HANDLE_VALUE;
        else
            return T{};
    }

private:
    T m_raw = none();
};

template <typename T, Empty E, auto Close>
struct Closer {
    using pointer = Value<T, E>;
    void operator()(pointer handle) const noexcept { Close(handle); }
};

} // namespace handle_detail

template <typename T, handle_detail::Empty E, auto Close>
using UniqueAny = std::unique_ptr<void, handle_detail::Closer<T, E, Close>>;

using UniqueHandle = UniqueAny<HANDLE, handle_detail::Empty::Null, &::CloseHandle>;
using UniqueFileHandle = UniqueAny<HANDLE, handle_detail::Empty::Invalid, &::CloseHandle>;
using UniqueFindHandle = UniqueAny<HANDLE, handle_detail::Empty::Invalid, &::FindClose>;
using UniqueRegKey = UniqueAny<HKEY, handle_detail::Empty::Null, &::RegCloseKey>;
