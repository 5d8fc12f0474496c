// Cutting the public address out of an address-echo reply.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace unit1 {

// The line buffer holds 128 characters, so at most 127 of the first line are read.
inline constexpr std::size_t kLineChars = 127;
// Enough bytes to hold kLineChars characters of UTF-8.
inline constexpr std::size_t kLineBytes = kLineChars * 4;

// The reply's first line as read into the line buffer: its characters up to and including
// the first line break, at most kLineChars of them, decoded as UTF-8.
std::string read_first_line(std::string_view reply_bytes);

// The text after the last ":" of the line, less the colon and the character after it, up
// to the next "<" (or the end of the line). "取得エラー" when the line is empty, has no
// colon, or its last colon ends the line or is followed directly by "<".
std::string parse_first_line(std::string_view line);

}  // namespace unit1
