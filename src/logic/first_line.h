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

// An IPv4 address in dotted form and nothing else: four decimal numbers 0-255 joined by
// dots. A number with a leading zero ("01") is refused, since some readers take it as
// octal; "0" itself is a number.
bool is_dotted_quad(std::string_view text);

// The public address in the line: the text after its last ":", less the colon and the
// character after it, up to the next "<" (or the end of the line), with blanks, tabs, CR
// and LF trimmed from both ends. "取得エラー" unless that text is a dotted quad.
std::string parse_first_line(std::string_view line);

}  // namespace unit1
