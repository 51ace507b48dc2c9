#pragma once

#include <windows.h>

// A function of a loaded module as the type it is called through, or null. The
// detour through void* is the one conversion from FARPROC that the compilers accept
// without a warning about incompatible function types.
template <typename Function>
Function procAddress(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
