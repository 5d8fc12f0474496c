// Integer text as the settings file and the interval box read it.
#pragma once

#include <optional>
#include <string_view>

namespace shared {

// Leading blanks, an optional sign, then decimal digits or hexadecimal digits after
// "$", "x", "X", "0x" or "0X". Nothing may follow the digits. Empty, overflowing or any
// other text gives nothing.
std::optional<int> parse_int(std::string_view text);

inline int parse_int_or(std::string_view text, int def) {
  return parse_int(text).value_or(def);
}

}  // namespace shared
