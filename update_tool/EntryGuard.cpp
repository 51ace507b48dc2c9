#include "update_tool/EntryGuard.h"

#include <cstdio>
#include <exception>
#include <new>

int guardedExitCode(const std::function<int()>& body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        std::printf("Error allocating memory\n");
    } catch (const std::exception& failure) {
        std::printf("Unexpected error: %s, aborting\n", failure.what());
    } catch (...) {
        std::printf("Unexpected error, aborting\n");
    }
    return -1;
}
