#pragma once

// The owner of a C runtime stream. Apart from the platform handles, so that code the
// host fuzz targets build (the version record) can hold its file the same way.

#include <cstdio>
#include <memory>

struct StdioCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

using UniqueStdioFile = std::unique_ptr<std::FILE, StdioCloser>;
