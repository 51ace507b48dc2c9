#include "http/MultipartBoundary.h"

#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <new>

namespace Varnu {

MultipartBoundary MakeMultipartBoundary() noexcept
{
    GUID guid;
    if (FAILED(CoCreateGuid(&guid)))
        return {};

    constexpr size_t kBoundaryBuffer = 44;  // 43 characters and the terminator
    OwnedText boundary(new (std::nothrow) char[kBoundaryBuffer]);
    if (!boundary)
        return {};
    std::snprintf(boundary.get(), kBoundaryBuffer,
                  "----MORAV-%.08lx%.04x%.04x%.02x%.02x%.02x%.02x%.02x%.02x%.02x%.02x-",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);

    static const char kPrefix[] = "multipart/form-data; boundary=";
    const size_t cchBoundary = std::strlen(boundary.get());
    const size_t cbContentType = sizeof(kPrefix) + cchBoundary;
    OwnedText contentType(new (std::nothrow) char[cbContentType]);
    if (!contentType)
        return {};
    std::memcpy(contentType.get(), kPrefix, sizeof(kPrefix) - 1);
    std::memcpy(contentType.get() + sizeof(kPrefix) - 1, boundary.get(), cchBoundary + 1);

    return {std::move(boundary), std::move(contentType)};
}

}  // namespace Varnu
