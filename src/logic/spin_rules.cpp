#include "logic/spin_rules.h"

#include <algorithm>
#include <climits>

#include "logic/int_parse.h"

namespace option {

bool spin_accepts_char(char32_t c) {
  return c >= U'0' && c <= U'9';
}

bool spin_accepts_paste(std::string_view resulting_text) {
  return shared::parse_int(resulting_text).has_value();
}

std::string spin_step(std::string_view text, int delta, int minimum) {
  const long long value = shared::parse_int(text).value_or(minimum);
  const long long next = std::clamp<long long>(value + delta, minimum, INT_MAX);
  return std::to_string(next);
}

std::string spin_leave(std::string_view text, int minimum) {
  const auto value = shared::parse_int(text);
  if (!value || *value < minimum) return std::to_string(minimum);
  return std::string(text);
}

}  // namespace option
