// Host name and local address through the socket library.
#include <cstring>

#include "platform/win32/win32_impl.h"

namespace platform {

SocketSession::SocketSession() {
  WSADATA data;
  started_ = WSAStartup(0x0101, &data) == 0;
}

SocketSession::~SocketSession() {
  if (started_) WSACleanup();
}

bool SocketSession::host_name(std::string& name) const {
  char buffer[256];
  if (gethostname(buffer, sizeof(buffer)) != 0) return false;
  buffer[sizeof(buffer) - 1] = '\0';
  name = win32::from_ansi(buffer);
  return true;
}

bool SocketSession::first_ipv4(const std::string& name, std::string& dotted) const {
  const hostent* host = gethostbyname(win32::to_ansi(name).c_str());
  if (!host || host->h_addrtype != AF_INET || !host->h_addr_list || !host->h_addr_list[0])
    return false;
  in_addr address;
  memcpy(&address, host->h_addr_list[0], sizeof(address));
  dotted = win32::from_ansi(inet_ntoa(address));
  return true;
}

}  // namespace platform
