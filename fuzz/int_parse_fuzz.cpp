// shared::parse_int against a reference that checks the grammar first and leaves the
// arithmetic to strtoll; then the interval box's stepping and leaving rules.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "logic/int_parse.h"
#include "logic/spin_rules.h"

namespace {

std::optional<int> reference_parse(std::string_view s) {
  const std::size_t start = s.find_first_not_of(" \t");
  if (start == std::string_view::npos) return std::nullopt;
  s.remove_prefix(start);
  std::string normalised;
  if (s.front() == '+' || s.front() == '-') {
    normalised += s.front();
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.starts_with("0x") || s.starts_with("0X")) {
    base = 16;
    s.remove_prefix(2);
  } else if (s.starts_with("$") || s.starts_with("x") || s.starts_with("X")) {
    base = 16;
    s.remove_prefix(1);
  }
  const std::string_view digits =
      base == 16 ? std::string_view("0123456789abcdefABCDEF") : std::string_view("0123456789");
  if (s.empty() || s.find_first_not_of(digits) != std::string_view::npos) return std::nullopt;
  normalised += s;

  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(normalised.c_str(), &end, base);
  FUZZ_CHECK(end == normalised.c_str() + normalised.size());
  if (errno == ERANGE || value < INT_MIN || value > INT_MAX) return std::nullopt;
  return static_cast<int>(value);
}

void check_spin_rules(std::string_view text, int delta, int minimum) {
  const std::optional<int> typed = shared::parse_int(text);

  const std::string stepped = option::spin_step(text, delta, minimum);
  const std::optional<int> stepped_value = shared::parse_int(stepped);
  FUZZ_CHECK(stepped_value.has_value());
  FUZZ_CHECK(*stepped_value >= minimum);
  FUZZ_CHECK(stepped == std::to_string(*stepped_value));  // plain decimal, no padding
  long long expected = static_cast<long long>(typed.value_or(minimum)) + delta;
  if (expected < minimum) expected = minimum;
  if (expected > INT_MAX) expected = INT_MAX;
  FUZZ_CHECK(*stepped_value == expected);

  const std::string left = option::spin_leave(text, minimum);
  if (typed && *typed >= minimum) {
    FUZZ_CHECK(left == text);
  } else {
    FUZZ_CHECK(left == std::to_string(minimum));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<int> parsed = shared::parse_int(text);
  FUZZ_CHECK(parsed == reference_parse(text));
  FUZZ_CHECK(shared::parse_int_or(text, 12345) == parsed.value_or(12345));

  // The step and the minimum come from the end of the input, so the text is mostly the
  // same bytes as above.
  FuzzedDataProvider provider(data, size);
  const int delta = provider.ConsumeIntegral<int>();
  const int minimum = provider.ConsumeIntegral<int>();
  check_spin_rules(provider.ConsumeRemainingBytesAsString(), delta, minimum);
  // The box's real steps: one up or down, from a small minimum.
  check_spin_rules(text, 1, 1);
  check_spin_rules(text, -1, 1);
  return 0;
}
