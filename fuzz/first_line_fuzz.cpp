// The input is an address-echo reply. The first line and the address cut from it are
// compared with a reference that works on decoded characters, and checked for what the
// address box relies on.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Unit1/first_line.h"
#include "fuzz_check.h"
#include "shared/texts.h"
#include "utf8_reference.h"

namespace {

// The first line as characters: the first 127, cut after the first LF.
std::u32string reference_line(std::string_view reply) {
  std::u32string line = fuzz::decode_lossy(reply, unit1::kLineChars);
  const std::size_t lf = line.find(U'\n');
  if (lf != std::u32string::npos) line.resize(lf + 1);
  return line;
}

std::string reference_address(std::u32string_view line) {
  const std::size_t colon = line.rfind(U':');
  if (colon == std::u32string_view::npos || colon + 1 == line.size() || line[colon + 1] == U'<')
    return shared::kErrorText;
  std::u32string_view rest = line.substr(colon + 2);
  return fuzz::encode(rest.substr(0, rest.find(U'<')));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);

  const std::string line = unit1::read_first_line(reply);
  const long line_chars = fuzz::utf8_length(line);
  FUZZ_CHECK(line_chars >= 0 && line_chars <= static_cast<long>(unit1::kLineChars));
  FUZZ_CHECK(line.size() <= unit1::kLineBytes);
  const std::size_t line_lf = line.find('\n');
  FUZZ_CHECK(line_lf == std::string::npos || line_lf + 1 == line.size());
  const std::u32string expected_line = reference_line(reply);
  FUZZ_CHECK(line == fuzz::encode(expected_line));

  const std::string address = unit1::parse_first_line(line);
  FUZZ_CHECK(address == unit1::parse_first_line(line));
  FUZZ_CHECK(address == reference_address(expected_line));
  if (address != shared::kErrorText) {
    const long chars = fuzz::utf8_length(address);
    // The colon and the character after it are never part of the address.
    FUZZ_CHECK(chars >= 0 && chars <= static_cast<long>(unit1::kLineChars) - 2);
    FUZZ_CHECK(address.find('<') == std::string::npos);
    // Nothing past the line break: it can only be the last character.
    const std::size_t lf = address.find('\n');
    FUZZ_CHECK(lf == std::string::npos || lf + 1 == address.size());
    FUZZ_CHECK(line.find(address) != std::string::npos);
  }
  return 0;
}
