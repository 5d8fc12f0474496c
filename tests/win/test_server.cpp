#include "test_server.h"

#include <gtest/gtest.h>
#include <winsock2.h>  // before windows.h, which gtest.h includes

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace wintest {

std::string server_url(const std::string& path) {
  const char* server = std::getenv("ADDROVA_TEST_SERVER");
  if (!server || !*server) {
    ADD_FAILURE() << "ADDROVA_TEST_SERVER is not set: run the tests through CTest, with the "
                     "build configured with -DADDROVA_ECHO_SERVER=<native build>/tests/echo_server";
    return refused_url(path);
  }
  return std::string("http://") + server + path;
}

std::string fresh_url(const std::string& path) {
  static int counter = 0;
  char token[64];
  std::snprintf(token, sizeof token, "%lu-%llu-%d", GetCurrentProcessId(),
                static_cast<unsigned long long>(GetTickCount64()), ++counter);
  return server_url(path + token);
}

int requests_for(const std::string& url) {
  const char* log = std::getenv("ADDROVA_TEST_SERVER_LOG");
  if (!log) {
    ADD_FAILURE() << "ADDROVA_TEST_SERVER_LOG is not set";
    return -1;
  }
  const std::string target = url.substr(url.find('/', url.find("//") + 2));
  std::ifstream in(log);
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.find(" GET " + target + " ") != std::string::npos) ++count;
  }
  return count;
}

std::string refused_url(const std::string& path) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof(address);
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  closesocket(s);
  WSACleanup();
  return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + path;
}

std::string echo_page(const std::string& address) {
  return "<html><head><title>Current IP Check</title></head><body>Current IP Address: " + address +
         "</body></html>\r\n";
}

}  // namespace wintest
