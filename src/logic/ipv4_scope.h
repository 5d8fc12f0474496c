// Where an address lies, and the rule that keeps downloads from being redirected into the
// user's own machine or network: one rule for every back end, which gathers the system's
// facts (the addresses a name resolves to, those of the machine's own interfaces) and
// passes them in.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shared {

// Redirects a download follows at most; the next one fails the download.
inline constexpr int kMaxRedirects = 5;

// "a.b.c.d": four decimal parts of one to three digits, each at most 255, nothing else.
// The first part ends up in the top byte.
std::optional<std::uint32_t> parse_ipv4(std::string_view dotted);

// Unspecified (0/8), loopback (127/8), link-local (169.254/16), private (10/8, 172.16/12,
// 192.168/16), shared (100.64/10, where carrier and mesh networks put the user's own
// machines) or benchmarking (198.18/15): an address on this machine or its own network.
bool is_local_ipv4(std::uint32_t address);

// An IPv4 or IPv6 address as sixteen bytes in network order, IPv4 as ::ffff:a.b.c.d.
using IpAddress = std::array<unsigned char, 16>;
IpAddress ipv4_mapped(std::uint32_t address);

// Local IPv4 as above, ::, ::1, fc00::/7, fe80::/10, or one of `own` (the addresses of
// the machine's own interfaces, whatever their range).
bool is_local(const IpAddress& address, const std::vector<IpAddress>& own);

// Whether a redirect may lead to a URL of `scheme` (as URLs give it, in lower case): http
// and https only.
bool followed_scheme(std::string_view scheme);

// Whether a download that first connected to `origin` may send a request to `target`
// after a redirect, both dotted IPv4. A local target (the local ranges, or one of `own`,
// the machine's own addresses) is allowed only when the origin was local as well, as for
// a test server or an echo service on the user's own network. A target that is not a
// dotted IPv4 address is never allowed.
bool redirect_allowed(std::string_view origin, std::string_view target,
                      const std::vector<IpAddress>& own);

// The same rule for a hop not yet asked for: whether redirect number `hop` (the first is
// 1) may be followed to a URL of `scheme` (followed_scheme) whose host resolves to
// `target`, for a download whose first host resolved to `origin`. The target is local
// when any of its addresses is, the origin when any of its is; a target that resolved to
// nothing is refused.
bool redirect_allowed(int hop, std::string_view scheme, const std::vector<IpAddress>& origin,
                      const std::vector<IpAddress>& target, const std::vector<IpAddress>& own);

// The scheme of a URL in lower case and its host without brackets, user or port; empty
// parts when the URL has none.
struct UrlParts {
  std::string scheme;
  std::string host;
};
UrlParts url_parts(std::string_view url);

}  // namespace shared
