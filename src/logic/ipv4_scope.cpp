#include "logic/ipv4_scope.h"

#include <algorithm>

namespace shared {

std::optional<std::uint32_t> parse_ipv4(std::string_view dotted) {
  std::uint32_t address = 0;
  std::size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= dotted.size() || dotted[i] != '.') return std::nullopt;
      ++i;
    }
    unsigned value = 0;
    std::size_t digits = 0;
    while (i < dotted.size() && dotted[i] >= '0' && dotted[i] <= '9' && digits < 3) {
      value = value * 10 + static_cast<unsigned>(dotted[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || value > 255) return std::nullopt;
    address = address << 8 | value;
  }
  if (i != dotted.size()) return std::nullopt;
  return address;
}

bool is_local_ipv4(std::uint32_t address) {
  const auto in = [address](std::uint32_t network, int prefix) {
    return (address >> (32 - prefix)) == (network >> (32 - prefix));
  };
  return in(0x00000000, 8) ||   // 0.0.0.0/8
         in(0x7F000000, 8) ||   // 127.0.0.0/8
         in(0xA9FE0000, 16) ||  // 169.254.0.0/16
         in(0x0A000000, 8) ||   // 10.0.0.0/8
         in(0xAC100000, 12) ||  // 172.16.0.0/12
         in(0xC0A80000, 16) ||  // 192.168.0.0/16
         in(0x64400000, 10) ||  // 100.64.0.0/10
         in(0xC6120000, 15);    // 198.18.0.0/15
}

IpAddress ipv4_mapped(std::uint32_t address) {
  IpAddress a{};
  a[10] = a[11] = 0xFF;
  for (int i = 0; i < 4; ++i) a[12 + i] = static_cast<unsigned char>(address >> (24 - 8 * i));
  return a;
}

bool is_local(const IpAddress& a, const std::vector<IpAddress>& own) {
  if (std::find(own.begin(), own.end(), a) != own.end()) return true;
  const auto zero = [&a](int from, int to) {
    return std::all_of(a.begin() + from, a.begin() + to, [](unsigned char b) { return b == 0; });
  };
  if (zero(0, 10) && a[10] == 0xFF && a[11] == 0xFF)
    return is_local_ipv4(std::uint32_t{a[12]} << 24 | std::uint32_t{a[13]} << 16 |
                         std::uint32_t{a[14]} << 8 | a[15]);
  if (zero(0, 15) && a[15] <= 1) return true;                               // :: and ::1
  return (a[0] & 0xFE) == 0xFC || (a[0] == 0xFE && (a[1] & 0xC0) == 0x80);  // fc00::/7, fe80::/10
}

bool redirect_allowed(std::string_view origin, std::string_view target,
                      const std::vector<IpAddress>& own) {
  const std::optional<std::uint32_t> to = parse_ipv4(target);
  if (!to) return false;
  if (!is_local(ipv4_mapped(*to), own)) return true;
  const std::optional<std::uint32_t> from = parse_ipv4(origin);
  return from && is_local(ipv4_mapped(*from), own);
}

bool followed_scheme(std::string_view scheme) {
  return scheme == "http" || scheme == "https";
}

bool redirect_allowed(int hop, std::string_view scheme, const std::vector<IpAddress>& origin,
                      const std::vector<IpAddress>& target, const std::vector<IpAddress>& own) {
  if (hop < 1 || hop > kMaxRedirects) return false;
  if (!followed_scheme(scheme)) return false;
  if (target.empty()) return false;
  const auto local = [&own](const IpAddress& a) { return is_local(a, own); };
  return std::none_of(target.begin(), target.end(), local) ||
         std::any_of(origin.begin(), origin.end(), local);
}

UrlParts url_parts(std::string_view url) {
  UrlParts parts;
  const std::size_t colon = url.find(':');
  if (colon == std::string_view::npos) return parts;
  parts.scheme = url.substr(0, colon);
  for (char& c : parts.scheme)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (url.compare(colon, 3, "://") != 0) return parts;
  const std::size_t start = colon + 3;
  std::string_view authority = url.substr(start, url.find_first_of("/?#", start) - start);
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    parts.host = authority.substr(1, close == std::string_view::npos ? close : close - 1);
  } else {
    parts.host = authority.substr(0, authority.find(':'));
  }
  return parts;
}

}  // namespace shared
