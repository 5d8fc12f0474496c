// How long an HTTP service asks its clients to wait (the Retry-After header).
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace shared {

// The longest wait a service's word keeps an endpoint from being asked.
inline constexpr std::chrono::seconds kMaxRetryAfter{3600};

// The wait a Retry-After value asks for when read at `now`: delta-seconds, or an HTTP date
// (IMF-fixdate, or one of the two obsolete forms, RFC 850 and asctime), blanks around it
// allowed. A date already past gives 0; anything longer than kMaxRetryAfter gives that;
// anything else, an empty value included, gives none.
std::optional<std::chrono::seconds> retry_after_delay(std::string_view value,
                                                      std::chrono::system_clock::time_point now);

// Whether an answer with this HTTP status may ask for a wait: 429 (too many requests) and
// 503 (unavailable) may.
inline bool asks_to_wait(int status) {
  return status == 429 || status == 503;
}

}  // namespace shared
