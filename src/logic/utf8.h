#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace shared {

// Decodes bytes as UTF-8 and returns at most max_chars characters, re-encoded; every
// malformed sequence becomes U+FFFD.
std::string utf8_prefix(std::string_view bytes, std::size_t max_chars);

// The executable's file name up to its first dot, every character after the first in
// lower case (ASCII letters; others are kept).
std::string title_from_executable(std::string_view path);

}  // namespace shared
