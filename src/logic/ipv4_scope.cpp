#include "logic/ipv4_scope.h"

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
         in(0xC0A80000, 16);    // 192.168.0.0/16
}

bool redirect_allowed(std::string_view origin, std::string_view target) {
  const std::optional<std::uint32_t> to = parse_ipv4(target);
  if (!to) return false;
  if (!is_local_ipv4(*to)) return true;
  const std::optional<std::uint32_t> from = parse_ipv4(origin);
  return from && is_local_ipv4(*from);
}

}  // namespace shared
