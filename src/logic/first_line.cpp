#include "logic/first_line.h"

#include "logic/texts.h"
#include "logic/utf8.h"

namespace unit1 {

std::string read_first_line(std::string_view reply_bytes) {
  std::string line = shared::utf8_prefix(reply_bytes.substr(0, kLineBytes), kLineChars);
  const std::size_t lf = line.find('\n');
  if (lf != std::string::npos) line.resize(lf + 1);
  return line;
}

bool is_dotted_quad(std::string_view text) {
  int parts = 0;
  std::size_t i = 0;
  while (true) {
    const std::size_t start = i;
    int value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3)
      value = value * 10 + (text[i++] - '0');
    const std::size_t digits = i - start;
    if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return false;
    if (++parts == 4) return i == text.size();
    if (i == text.size() || text[i] != '.') return false;
    ++i;
  }
}

std::string parse_first_line(std::string_view line) {
  const std::size_t colon = line.rfind(':');
  if (colon == std::string_view::npos || colon + 1 == line.size() || line[colon + 1] == '<')
    return shared::kErrorText;
  std::string_view rest = line.substr(colon + 1);
  rest = rest.substr(0, rest.find('<'));
  // Drop the character after the colon, whole, even when it takes several bytes.
  std::size_t skip = 1;
  while (skip < rest.size() && (static_cast<unsigned char>(rest[skip]) & 0xC0) == 0x80) ++skip;
  rest = rest.substr(skip);
  // Blanks and the line break around the address are layout; anything else that is not
  // part of an address (text of a sign-in page, an IPv6 address, control or direction
  // characters) refuses the whole reply, since the text goes to the clipboard and a file.
  constexpr std::string_view kEdges = " \t\r\n";
  const std::size_t first = rest.find_first_not_of(kEdges);
  if (first == std::string_view::npos) return shared::kErrorText;
  rest = rest.substr(first, rest.find_last_not_of(kEdges) - first + 1);
  return is_dotted_quad(rest) ? std::string(rest) : shared::kErrorText;
}

}  // namespace unit1
