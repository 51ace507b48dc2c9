#pragma once

// The launcher's side of a release's signature: the text it covers. The digest, the
// keys and the check itself are common/PackageSignature's, shared with the update tool.

#include "common/PackageSignature.h"

#include <string>

// One of the launcher's own texts (ANSI code page) in UTF-8, converted as the
// version query's form converts it: the bytes the gateway received. Throws
// std::exception when the text cannot be converted.
std::string sentUtf8(const std::string& text);

// The bytes a release's signature covers: platform "\n" type "\n" version "\n"
// sha256, each given in UTF-8, with no line end after the digest. An answer that
// offers no package is signed over the empty digest.
std::string releaseSignedText(const std::string& platform, const std::string& type, const std::string& ver,
                              const std::string& sha256);
