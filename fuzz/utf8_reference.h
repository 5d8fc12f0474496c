// A UTF-8 decoder for the fuzz targets, written apart from the one under test: it decodes
// the code point first and rejects overlong forms, surrogates and values past U+10FFFF by
// value, where the product checks byte ranges. A malformed sequence is replaced by U+FFFD
// one byte at a time, as the product does.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fuzz {

// Length of the well-formed sequence at the start of s (not empty), 0 when malformed.
inline std::size_t decode_one(std::string_view s, char32_t& cp) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  std::size_t n;
  char32_t smallest;
  if (byte(0) < 0x80) {
    cp = byte(0);
    return 1;
  } else if ((byte(0) & 0xE0) == 0xC0) {
    n = 2, cp = byte(0) & 0x1F, smallest = 0x80;
  } else if ((byte(0) & 0xF0) == 0xE0) {
    n = 3, cp = byte(0) & 0x0F, smallest = 0x800;
  } else if ((byte(0) & 0xF8) == 0xF0) {
    n = 4, cp = byte(0) & 0x07, smallest = 0x10000;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i) & 0x3F);
  }
  if (cp < smallest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

// At most max_chars characters of bytes, malformed bytes as U+FFFD.
inline std::u32string decode_lossy(std::string_view bytes, std::size_t max_chars) {
  std::u32string out;
  while (!bytes.empty() && out.size() < max_chars) {
    char32_t cp;
    const std::size_t n = decode_one(bytes, cp);
    out += n ? cp : U'\uFFFD';
    bytes.remove_prefix(n ? n : 1);
  }
  return out;
}

inline std::string encode(std::u32string_view text) {
  std::string out;
  for (const char32_t cp : text) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// Number of characters when s is well-formed UTF-8, -1 otherwise.
inline long utf8_length(std::string_view s) {
  long chars = 0;
  while (!s.empty()) {
    char32_t cp;
    const std::size_t n = decode_one(s, cp);
    if (n == 0) return -1;
    s.remove_prefix(n);
    ++chars;
  }
  return chars;
}

}  // namespace fuzz
