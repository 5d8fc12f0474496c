#include "Unit1/first_line.h"

#include "shared/texts.h"
#include "shared/utf8.h"

namespace unit1 {

std::string read_first_line(std::string_view reply_bytes) {
  std::string line = shared::utf8_prefix(reply_bytes.substr(0, kLineBytes), kLineChars);
  const std::size_t lf = line.find('\n');
  if (lf != std::string::npos) line.resize(lf + 1);
  return line;
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
  return std::string(rest.substr(skip));
}

}  // namespace unit1
