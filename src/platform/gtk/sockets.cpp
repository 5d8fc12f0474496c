// Host name and local address through the resolver; POSIX needs no library start-up.
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

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

}  // namespace platform
