// Host name and local address through the resolver, and the interfaces' own addresses;
// POSIX needs no library start-up.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/gtk/own_addresses.h"
#include "platform/platform.h"

namespace platform {

SocketSession::SocketSession() : started_(true) {}

SocketSession::~SocketSession() = default;

bool SocketSession::host_name(std::string& name) const {
  char buffer[256] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) return false;
  name = buffer;
  return true;
}

// The first address as the resolver lists it, in the order of the hosts file or the DNS
// answer. getaddrinfo would sort the addresses by destination preference first, so the
// old call is used, in its reentrant form: the lookup worker calls this on its own thread.
bool SocketSession::first_ipv4(const std::string& name, std::string& dotted) const {
  hostent entry{};
  hostent* found = nullptr;
  int error = 0;
  std::vector<char> buffer(1024);
  while (gethostbyname_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found, &error) ==
             ERANGE &&
         buffer.size() < (1u << 20))
    buffer.resize(buffer.size() * 2);
  if (!found || found->h_addrtype != AF_INET || !found->h_addr_list[0]) return false;
  char text[INET_ADDRSTRLEN] = {};
  if (!inet_ntop(AF_INET, found->h_addr_list[0], text, sizeof text)) return false;
  dotted = text;
  return true;
}

namespace gtk {

std::vector<shared::IpAddress> own_addresses() {
  std::vector<shared::IpAddress> own;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return own;
  for (const ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr) continue;
    if (i->ifa_addr->sa_family == AF_INET) {
      own.push_back(shared::ipv4_mapped(
          ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr)));
    } else if (i->ifa_addr->sa_family == AF_INET6) {
      shared::IpAddress a;
      std::memcpy(a.data(), &reinterpret_cast<const sockaddr_in6*>(i->ifa_addr)->sin6_addr,
                  a.size());
      own.push_back(a);
    }
  }
  freeifaddrs(list);
  return own;
}

}  // namespace gtk

}  // namespace platform
