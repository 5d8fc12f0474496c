// Where a download may be redirected: the pure part of the decision, without the system.
#pragma once

#include <cstdint>
#include <string>

namespace platform::win32 {

constexpr int kMaxRedirects = 5;

// Whether the sixteen bytes of an IPv6 address are this machine's or its own network's:
// ::, ::1, fc00::/7, fe80::/10, and mapped IPv4 addresses by shared::is_local_ipv4.
bool local_ipv6(const unsigned char (&address)[16]);

// The scheme of a URL in lower case and its host without brackets, user or port; empty
// parts when the URL has none.
struct UrlParts {
  std::string scheme;
  std::string host;
};
UrlParts url_parts(const std::string& url);

// Whether redirect number `hop` (the first is 1) may be followed to a URL with `scheme`
// whose host resolved to a local address (`target_local`) or not. Local targets are
// allowed only when the download's first URL itself resolved to a local address.
bool redirect_allowed(int hop, const std::string& scheme, bool origin_local, bool target_local);

}  // namespace platform::win32
