#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The text form of a package signature, the gateway's result.signature and an update
// archive's .sig file alike: exactly the 88 characters of standard, padded base64 that
// the signature's 64 bytes (r then s) make.
inline constexpr std::size_t kSignatureTextSize = 88;

// The 64 bytes `text` spells. Nothing for any other text, and for nothing that decodes
// to the same bytes some other way: no blanks or line ends, no URL-safe alphabet, no
// missing padding, no stray bits before the padding. A signature has one spelling, so
// a text that passes here names the bytes alone.
std::optional<std::string> decodeSignatureText(const std::string& text);
