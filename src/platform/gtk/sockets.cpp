// Host name and local address through the resolver; POSIX needs no library start-up.
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

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

// IPv4 only, and without AI_ADDRCONFIG, which finds nothing on a machine whose only
// interface is the loopback.
bool SocketSession::first_ipv4(const std::string& name, std::string& dotted) const {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
  char text[INET_ADDRSTRLEN] = {};
  const auto* in = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  const bool ok = inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) != nullptr;
  freeaddrinfo(found);
  if (ok) dotted = text;
  return ok;
}

}  // namespace platform
