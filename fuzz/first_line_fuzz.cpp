// The input is an address-echo reply. The first line and the address cut from it are
// compared with a reference that works on decoded characters: the result is the error
// text or a dotted-quad IPv4 address, never other text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "logic/first_line.h"
#include "logic/texts.h"
#include "utf8_reference.h"

namespace {

// The first line as characters: the first 127, cut after the first LF.
std::u32string reference_line(std::string_view reply) {
  std::u32string line = fuzz::decode_lossy(reply, unit1::kLineChars);
  const std::size_t lf = line.find(U'\n');
  if (lf != std::u32string::npos) line.resize(lf + 1);
  return line;
}

// An address is four parts between dots, each a number 0-255 written the way the number
// prints itself (so without a sign, blank or leading zero).
bool reference_dotted_quad(std::u32string_view text) {
  std::vector<std::u32string_view> parts;
  for (std::size_t from = 0;;) {
    const std::size_t dot = text.find(U'.', from);
    parts.push_back(text.substr(from, dot == std::u32string_view::npos ? dot : dot - from));
    if (dot == std::u32string_view::npos) break;
    from = dot + 1;
  }
  if (parts.size() != 4) return false;
  for (std::u32string_view part : parts) {
    if (part.empty() || part.size() > 3) return false;
    std::string narrow;
    for (char32_t c : part) {
      if (c < U'0' || c > U'9') return false;
      narrow += static_cast<char>(c);
    }
    const int value = std::stoi(narrow);
    if (value > 255 || std::to_string(value) != narrow) return false;
  }
  return true;
}

std::string reference_address(std::u32string_view line) {
  const std::size_t colon = line.rfind(U':');
  if (colon == std::u32string_view::npos || colon + 1 == line.size() || line[colon + 1] == U'<')
    return shared::kErrorText;
  std::u32string_view rest = line.substr(colon + 2);
  rest = rest.substr(0, rest.find(U'<'));
  const auto edge = [](char32_t c) { return c == U' ' || c == U'\t' || c == U'\r' || c == U'\n'; };
  while (!rest.empty() && edge(rest.front())) rest.remove_prefix(1);
  while (!rest.empty() && edge(rest.back())) rest.remove_suffix(1);
  return reference_dotted_quad(rest) ? fuzz::encode(rest) : shared::kErrorText;
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
  // What the address box, the clipboard and the save file get: the error text or an
  // address, never other text.
  FUZZ_CHECK(address == shared::kErrorText ||
             reference_dotted_quad(fuzz::decode_lossy(address, address.size())));
  FUZZ_CHECK(unit1::is_dotted_quad(address) == (address != shared::kErrorText));
  if (address != shared::kErrorText) {
    FUZZ_CHECK(address.size() >= 7 && address.size() <= 15);
    FUZZ_CHECK(line.find(address) != std::string::npos);
  }
  // The address check alone, on the raw input, against the reference.
  FUZZ_CHECK(unit1::is_dotted_quad(reply) ==
             reference_dotted_quad(fuzz::decode_lossy(reply, reply.size())));
  return 0;
}
