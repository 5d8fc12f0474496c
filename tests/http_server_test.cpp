// The path grammar of the test server (test::by_path), spoken to with a plain socket.
#include "http_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace {

struct Answer {
  std::string bytes;
  bool closed = false;  // the server closed the connection within the wait
};

// Sends a GET for `target` and collects what comes back until the server closes or
// nothing has arrived for `quiet_ms`.
Answer get(const test::HttpServer& server, const std::string& target, int quiet_ms = 3000) {
  Answer a;
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(server.port());
  inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return a;
  }
  const std::string request = "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n";
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) ADD_FAILURE() << "send";
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, quiet_ms) <= 0) break;
    char chunk[65536];
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) {
      a.closed = true;
      break;
    }
    a.bytes.append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  return a;
}

std::string status_line(const Answer& a) {
  return a.bytes.substr(0, a.bytes.find("\r\n"));
}

std::string body(const Answer& a) {
  const std::size_t end = a.bytes.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : a.bytes.substr(end + 4);
}

std::string header(const Answer& a, const std::string& name) {
  const std::size_t at = a.bytes.find("\r\n" + name + ": ");
  if (at == std::string::npos) return {};
  const std::size_t start = at + name.size() + 4;
  return a.bytes.substr(start, a.bytes.find("\r\n", start) - start);
}

TEST(ServerPaths, EchoPagesCarryThePeerOrTheAddressInThePath) {
  test::HttpServer server(test::by_path());
  for (const char* target : {"/echo/", "/Current%20IP%20Check.htm", "/ip.php", "/status/abc/"}) {
    const Answer a = get(server, target);
    EXPECT_EQ(status_line(a), "HTTP/1.1 200 OK") << target;
    EXPECT_EQ(body(a), test::echo_page("127.0.0.1")) << target;
  }
  EXPECT_EQ(body(get(server, "/echo/203.0.113.7/anything.htm")), test::echo_page("203.0.113.7"));
  EXPECT_EQ(body(get(server, "/echo/256.1.1.1/")), test::echo_page("127.0.0.1"));
}

TEST(ServerPaths, StatusBodyAndGarbage) {
  test::HttpServer server(test::by_path());
  const Answer status = get(server, "/status/503/x");
  EXPECT_EQ(status_line(status), "HTTP/1.1 503 Service Unavailable");
  EXPECT_EQ(body(status), test::echo_page("192.0.2.1"));
  EXPECT_EQ(body(get(server, "/body/127.0.0.1%0D%0A%00%ff%zz")),
            std::string("127.0.0.1\r\n\0\xff%zz", 16));
  EXPECT_EQ(body(get(server, "/garbage/5000/")), test::garbage_bytes(5000));
  const Answer stream = get(server, "/stream/100000/");
  EXPECT_EQ(header(stream, "Content-Length"), "100000");
  EXPECT_EQ(body(stream).size(), 100000u);
  EXPECT_EQ(body(stream).rfind(test::echo_page("127.0.0.1"), 0), 0u);
}

TEST(ServerPaths, RedirectsCountDownThenAnswerTheRest) {
  test::HttpServer server(test::by_path());
  const Answer first = get(server, "/redirect/2/echo/198.51.100.4/");
  EXPECT_EQ(status_line(first), "HTTP/1.1 302 Found");
  EXPECT_EQ(header(first, "Location"), "/redirect/1/echo/198.51.100.4/");
  EXPECT_EQ(header(get(server, "/redirect/1/echo/198.51.100.4/"), "Location"),
            "/redirect/0/echo/198.51.100.4/");
  EXPECT_EQ(body(get(server, "/redirect/0/echo/198.51.100.4/")), test::echo_page("198.51.100.4"));
  const Answer away = get(server, "/location/" + test::percent_encode("ftp://127.0.0.1/a b"));
  EXPECT_EQ(status_line(away), "HTTP/1.1 302 Found");
  EXPECT_EQ(header(away, "Location"), "ftp://127.0.0.1/a b");
}

TEST(ServerPaths, CloseSilentAndStall) {
  test::HttpServer server(test::by_path());
  const Answer closed = get(server, "/close/");
  EXPECT_TRUE(closed.closed);
  EXPECT_EQ(closed.bytes, "");
  const Answer silent = get(server, "/silent/", 300);
  EXPECT_FALSE(silent.closed);
  EXPECT_EQ(silent.bytes, "");
  const Answer stall = get(server, "/stall/", 300);
  EXPECT_FALSE(stall.closed);
  const std::string page = test::echo_page("127.0.0.1");
  EXPECT_GT(std::stoul(header(stall, "Content-Length")), page.size());
  EXPECT_FALSE(body(stall).empty());
  EXPECT_EQ(page.rfind(body(stall), 0), 0u);
}

}  // namespace
