#include "logic/retry_after.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace shared {

namespace {

using namespace std::chrono;

constexpr std::array<std::string_view, 7> kDays = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<std::string_view, 7> kLongDays = {
    "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

template <std::size_t N>
bool one_of(std::string_view s, const std::array<std::string_view, N>& names) {
  for (const std::string_view name : names)
    if (s == name) return true;
  return false;
}

// The month's number, 1 to 12, from its three-letter name; 0 for anything else.
unsigned month_of(std::string_view s) {
  for (std::size_t i = 0; i < kMonths.size(); ++i)
    if (s == kMonths[i]) return static_cast<unsigned>(i + 1);
  return 0;
}

// The `n` characters at `at` as a decimal number; -1 unless they are all digits.
int number(std::string_view s, std::size_t at, std::size_t n) {
  if (at + n > s.size()) return -1;
  int value = 0;
  for (const char c : s.substr(at, n)) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

// A moment given in the parts of a date; none when they name no real day or time of day
// (a leap second, 60, is taken as the next second).
std::optional<sys_seconds> moment(int y, unsigned m, int d, std::string_view hh_mm_ss) {
  const int h = number(hh_mm_ss, 0, 2), min = number(hh_mm_ss, 3, 2), sec = number(hh_mm_ss, 6, 2);
  if (hh_mm_ss.size() != 8 || hh_mm_ss[2] != ':' || hh_mm_ss[5] != ':') return std::nullopt;
  if (y < 0 || d < 0 || h < 0 || h > 23 || min < 0 || min > 59 || sec < 0 || sec > 60)
    return std::nullopt;
  const year_month_day date{year{y}, month{m}, day{static_cast<unsigned>(d)}};
  if (!date.ok()) return std::nullopt;
  return sys_days{date} + hours{h} + minutes{min} + seconds{sec};
}

// "Sun, 06 Nov 1994 08:49:37 GMT"
std::optional<sys_seconds> imf_fixdate(std::string_view s) {
  if (s.size() != 29 || !one_of(s.substr(0, 3), kDays) || s.substr(3, 2) != ", " || s[7] != ' ' ||
      s[11] != ' ' || s[16] != ' ' || s.substr(25) != " GMT")
    return std::nullopt;
  return moment(number(s, 12, 4), month_of(s.substr(8, 3)), number(s, 5, 2), s.substr(17, 8));
}

// "Sunday, 06-Nov-94 08:49:37 GMT". A two-digit year more than 50 years after `now` is the
// latest such year before it.
std::optional<sys_seconds> rfc850_date(std::string_view s, sys_seconds now) {
  const std::size_t comma = s.find(',');
  if (comma == std::string_view::npos || !one_of(s.substr(0, comma), kLongDays))
    return std::nullopt;
  s.remove_prefix(comma);
  if (s.size() != 24 || s.substr(0, 2) != ", " || s[4] != '-' || s[8] != '-' || s[11] != ' ' ||
      s.substr(20) != " GMT")
    return std::nullopt;
  const int yy = number(s, 9, 2);
  if (yy < 0) return std::nullopt;
  const int this_year = static_cast<int>(year_month_day{floor<days>(now)}.year());
  int y = this_year / 100 * 100 + yy;
  if (y > this_year + 50) y -= 100;
  return moment(y, month_of(s.substr(5, 3)), number(s, 2, 2), s.substr(12, 8));
}

// "Sun Nov  6 08:49:37 1994"
std::optional<sys_seconds> asctime_date(std::string_view s) {
  if (s.size() != 24 || !one_of(s.substr(0, 3), kDays) || s[3] != ' ' || s[7] != ' ' ||
      s[10] != ' ' || s[19] != ' ')
    return std::nullopt;
  const int d = s[8] == ' ' ? number(s, 9, 1) : number(s, 8, 2);
  return moment(number(s, 20, 4), month_of(s.substr(4, 3)), d, s.substr(11, 8));
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<seconds> retry_after_delay(std::string_view value, system_clock::time_point now) {
  value = trimmed(value);
  if (value.empty()) return std::nullopt;
  if (value.find_first_not_of("0123456789") == std::string_view::npos) {
    long long n = 0;
    for (const char c : value) {
      n = n * 10 + (c - '0');
      if (n >= kMaxRetryAfter.count()) return kMaxRetryAfter;
    }
    return seconds{n};
  }
  const sys_seconds at_second = floor<seconds>(now);
  std::optional<sys_seconds> date = imf_fixdate(value);
  if (!date) date = rfc850_date(value, at_second);
  if (!date) date = asctime_date(value);
  if (!date) return std::nullopt;
  // In whole seconds, never earlier than asked (the part of the current second already gone
  // does not count), and without nanoseconds, whose count would overflow for a far date.
  const seconds left = *date - at_second;
  if (left <= seconds{0}) return seconds{0};
  return std::min(left, kMaxRetryAfter);
}

}  // namespace shared
