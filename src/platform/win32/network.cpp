// The socket library for the host name and local address, and downloads through the
// system's URL moniker.

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

// The system's own timeouts and sizes apply.
void set_download_limits(const DownloadLimits&) {}

bool download_to_file(const std::string& url, const std::string& path) {
  return URLDownloadToFileW(nullptr, win32::widen(url).c_str(), win32::widen(path).c_str(), 0,
                            nullptr) == S_OK;
}

}  // namespace platform
