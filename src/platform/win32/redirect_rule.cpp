#include "platform/win32/redirect_rule.h"

#include <algorithm>
#include <cctype>

#include "logic/ipv4_scope.h"

namespace platform::win32 {

bool local_ipv6(const unsigned char (&a)[16]) {
  const bool zero_head = std::all_of(a, a + 10, [](unsigned char b) { return b == 0; });
  if (zero_head && a[10] == 0xFF && a[11] == 0xFF)  // ::ffff:a.b.c.d
    return shared::is_local_ipv4(std::uint32_t{a[12]} << 24 | std::uint32_t{a[13]} << 16 |
                                 std::uint32_t{a[14]} << 8 | a[15]);
  const bool zero_up_to_last =
      zero_head && std::all_of(a + 10, a + 15, [](unsigned char b) { return b == 0; });
  if (zero_up_to_last && a[15] <= 1) return true;                           // :: and ::1
  return (a[0] & 0xFE) == 0xFC || (a[0] == 0xFE && (a[1] & 0xC0) == 0x80);  // fc00::/7, fe80::/10
}

UrlParts url_parts(const std::string& url) {
  UrlParts parts;
  const std::size_t colon = url.find(':');
  if (colon == std::string::npos) return parts;
  parts.scheme = url.substr(0, colon);
  std::transform(parts.scheme.begin(), parts.scheme.end(), parts.scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (url.compare(colon, 3, "://") != 0) return parts;
  const std::size_t start = colon + 3;
  std::string authority = url.substr(start, url.find_first_of("/?#", start) - start);
  const std::size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    parts.host = authority.substr(1, close == std::string::npos ? close : close - 1);
  } else {
    parts.host = authority.substr(0, authority.find(':'));
  }
  return parts;
}

bool redirect_allowed(int hop, const std::string& scheme, bool origin_local, bool target_local) {
  if (hop > kMaxRedirects) return false;
  if (scheme != "http" && scheme != "https") return false;
  return origin_local || !target_local;
}

}  // namespace platform::win32
