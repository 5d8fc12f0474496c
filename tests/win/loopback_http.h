// A small HTTP server on 127.0.0.1 for the Windows tests, on a port the system picks.
// One thread answers the connections one after another; every answer closes its
// connection, except those told to hang, which stay open until the server ends.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace wintest {

struct Response {
  // Where the answer stops: never starting, or after the headers and half of the body.
  enum class Hang { No, Silent, MidBody };
  Response(int status_ = 200, std::string body_ = {}, std::string location_ = {},
           Hang hang_ = Hang::No)
      : status(status_), body(std::move(body_)), location(std::move(location_)), hang(hang_) {}
  int status;
  std::string body;
  std::string location;  // sent as a Location header when not empty
  Hang hang;
};

class LoopbackHttp {
 public:
  // `answer` gets the request target, e.g. "/ip.php".
  explicit LoopbackHttp(std::function<Response(const std::string& target)> answer);
  LoopbackHttp(const LoopbackHttp&) = delete;
  LoopbackHttp& operator=(const LoopbackHttp&) = delete;
  ~LoopbackHttp();
  std::string url(const std::string& target) const;
  int requests() const { return requests_; }

 private:
  void serve();
  std::function<Response(const std::string&)> answer_;
  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::thread thread_;
  std::vector<SOCKET> hanging_;  // on the server's thread only
};

// A URL on a loopback port where nothing listens: connections are refused.
std::string refused_url(const std::string& target);

// The address-echo page on one line.
std::string echo_page(const std::string& address);

}  // namespace wintest
