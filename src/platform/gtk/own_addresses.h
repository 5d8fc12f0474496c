// The addresses of the machine's own interfaces, which the redirect rule counts as local
// whatever their range (logic/ipv4_scope.h); the download passes them in.
#pragma once

#include <vector>

#include "logic/ipv4_scope.h"

namespace platform::gtk {

// IPv4 and IPv6, every interface, up or not; empty when the system cannot list them.
std::vector<shared::IpAddress> own_addresses();

}  // namespace platform::gtk
