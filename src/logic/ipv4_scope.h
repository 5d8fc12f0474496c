// Where an IPv4 address lies, for the rule that keeps downloads from being redirected into
// the user's own machine or network.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace shared {

// "a.b.c.d": four decimal parts of one to three digits, each at most 255, nothing else.
// The first part ends up in the top byte.
std::optional<std::uint32_t> parse_ipv4(std::string_view dotted);

// Unspecified (0/8), loopback (127/8), link-local (169.254/16) or private (10/8,
// 172.16/12, 192.168/16): an address on this machine or its own network.
bool is_local_ipv4(std::uint32_t address);

// Whether a download that first connected to `origin` may send a request to `target`
// after a redirect. A local target is allowed only when the origin was local as well, as
// for a test server or an echo service on the user's own network. A target that is not
// a dotted IPv4 address is never allowed.
bool redirect_allowed(std::string_view origin, std::string_view target);

}  // namespace shared
