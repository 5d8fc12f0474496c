#include "loopback_http.h"

#include <ws2tcpip.h>

#include <stdexcept>

namespace wintest {

namespace {

struct WinsockSession {
  WinsockSession() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup");
  }
  ~WinsockSession() { WSACleanup(); }
};

WinsockSession& winsock() {
  static WinsockSession session;
  return session;
}

// A socket bound to 127.0.0.1 on a free port.
SOCKET bound_socket(int& port) {
  winsock();
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) throw std::runtime_error("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
    throw std::runtime_error("bind");
  int length = sizeof(address);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return s;
}

const char* reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 302:
      return "Found";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

}  // namespace

LoopbackHttp::LoopbackHttp(std::function<Response(const std::string&)> answer)
    : answer_(std::move(answer)) {
  listener_ = bound_socket(port_);
  if (listen(listener_, 8) != 0) throw std::runtime_error("listen");
  thread_ = std::thread([this] { serve(); });
}

LoopbackHttp::~LoopbackHttp() {
  stop_ = true;
  thread_.join();
  for (const SOCKET s : hanging_) closesocket(s);
  closesocket(listener_);
}

std::string LoopbackHttp::url(const std::string& target) const {
  return "http://127.0.0.1:" + std::to_string(port_) + target;
}

void LoopbackHttp::serve() {
  while (!stop_) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(listener_, &ready);
    timeval wait{0, 50 * 1000};
    if (select(0, &ready, nullptr, nullptr, &wait) <= 0) continue;
    const SOCKET client = accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) continue;
    DWORD timeout_ms = 5000;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms),
               sizeof(timeout_ms));
    setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout_ms),
               sizeof(timeout_ms));
    std::string request;
    char buffer[2048];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
      const int n = recv(client, buffer, sizeof(buffer), 0);
      if (n <= 0) break;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    // "GET /target HTTP/1.1"
    const std::size_t start = request.find(' ');
    const std::size_t end = start == std::string::npos ? start : request.find(' ', start + 1);
    Response r;
    if (end != std::string::npos) {
      ++requests_;
      r = answer_(request.substr(start + 1, end - start - 1));
      const std::string head =
          "HTTP/1.1 " + std::to_string(r.status) + " " + reason(r.status) +
          "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(r.body.size()) +
          (r.location.empty() ? "" : "\r\nLocation: " + r.location) +
          "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
      const std::string reply = r.hang == Response::Hang::Silent ? ""
                                : r.hang == Response::Hang::MidBody
                                    ? head + r.body.substr(0, r.body.size() / 2)
                                    : head + r.body;
      std::size_t sent = 0;
      while (sent < reply.size()) {
        const int n = send(client, reply.data() + sent, static_cast<int>(reply.size() - sent), 0);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
    }
    if (r.hang != Response::Hang::No) {
      hanging_.push_back(client);
      continue;
    }
    shutdown(client, SD_SEND);
    closesocket(client);
  }
}

std::string refused_url(const std::string& target) {
  int port = 0;
  closesocket(bound_socket(port));
  return "http://127.0.0.1:" + std::to_string(port) + target;
}

std::string echo_page(const std::string& address) {
  return "<html><head><title>Current IP Check</title></head><body>Current IP Address: " + address +
         "</body></html>\r\n";
}

}  // namespace wintest
