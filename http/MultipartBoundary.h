// The multipart/form-data boundary a client makes when it is constructed.
#pragma once

#include "http/HttpText.h"

namespace Varnu {

// Used when no GUID-based boundary could be made.
constexpr char kFallbackMultipartBoundary[] = "----VARNU-FB3B405B7EAE495aB0C0295C54D4E096-";

struct MultipartBoundary {
    OwnedText szBoundary;     // "----MORAV-" + 32 lower-case hex digits of a new GUID + "-"
    OwnedText szContentType;  // "multipart/form-data; boundary=" + szBoundary
};

// Both texts, or both null when the GUID or a buffer cannot be had. Never throws.
MultipartBoundary MakeMultipartBoundary() noexcept;

}  // namespace Varnu
