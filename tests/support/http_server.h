// A small HTTP/1.0-1.1 server on an IPv4 address (normally loopback) for tests, scripts and
// the benchmark. One thread accepts; each connection gets its own thread, so a connection
// that is stalled on purpose never holds up the next request. Every reply carries
// Content-Length and Connection: close. The destructor stops everything promptly, stalled
// connections included.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "percent_encode.h"

namespace test {

struct Request {
  std::string method;
  std::string target;  // as sent, e.g. "/Current%20IP%20Check.htm" or, to a proxy, "http://…/"
  std::string version;
  std::string peer;     // the client's IPv4 address, dotted
  std::string headers;  // the header lines as received
};

// What the server does with one request.
struct Reply {
  enum class Kind {
    Complete,     // status line, headers, the whole body
    Silent,       // never answers; keeps the connection until the client leaves
    StallInBody,  // headers announcing announced_bytes, then `body`, then silence
    Stream,       // headers announcing announced_bytes, `body`, then filler lines up to
                  // announced_bytes or until the client leaves
    Raw,          // `body` as it is, without status line or headers
    Close,        // closes the connection without sending a byte
  };
  Kind kind = Kind::Complete;
  int status = 200;
  std::string content_type = "text/html";
  std::string body{};
  std::string location{};     // sent as a Location header when not empty
  std::string retry_after{};  // sent as a Retry-After header when not empty
  std::uint64_t announced_bytes = 0;
  std::chrono::milliseconds delay{0};  // waited before anything is sent
};

using Handler = std::function<Reply(const Request&)>;

// The reply page of the address-echo service, on one line ending in CR LF.
std::string echo_page(const std::string& address);

// Ready-made behaviours.
Handler echo();  // the echo page with the client's address
Handler fixed(int status, std::string body);
Handler silent();
// Headers announcing 1000 bytes more than the start of the echo page that follows them.
Handler stall_in_body();
// The echo page's line, then filler lines; `bytes` in all, generated while sending.
Handler stream(std::uint64_t bytes);
// `bytes` of pseudo-random binary data (seeded, so every reply is the same) as a 200 body,
// or with raw = true as the whole answer, without status line.
Handler garbage(std::size_t bytes, bool raw = false);
std::string garbage_bytes(std::size_t bytes);
// A first line of `chars` characters: the echo page, then filler holding a decoy
// "…: 192.0.2.255<" past the 127th character, then CR LF and a second line.
Handler long_first_line(std::size_t chars = 10000);
// "Current IP Address: <client>" with no line break and no markup.
Handler no_line_break();
// The echo page showing an IPv6 address instead of the client's.
Handler ipv6_body();
// The echo page with "10.0.H.L" for the Nth request (N = 256·H + L, from 1) of this handler;
// with `each` above 1, each address answers that many requests in a row.
Handler counting_echo(unsigned each = 1);
// A redirect with the given status to `location`, and a short body of its own.
Handler redirect(std::string location, int status = 302);
// Chooses by the request target; `other` answers the rest.
Handler route(std::map<std::string, Handler> by_target, Handler other);

// Every behaviour above chosen by the request's path, so that one running server serves
// every test without being reconfigured. Targets, matched on their first segment (with or
// without the slash after it); the query, if any, is part of the path:
//   /echo/                  the echo page with the client's (the peer's) address
//   /echo/A.B.C.D/...       the echo page showing A.B.C.D; whatever follows is ignored
//   /status/NNN/...         status NNN (100-599) with a short body of its own: the echo
//                           page showing 192.0.2.1, which no client may take for an answer
//   /retry/NNN/<%-encoded>/...  the same, with the decoded text as its Retry-After header
//   /silent/...             accepts the request and never answers
//   /stall/...              headers announcing more, the start of the echo page, silence
//   /stream/BYTES/...       the echo page's line, then filler lines up to BYTES in all
//   /body/<%-encoded>       200 whose body is exactly the decoded bytes
//   /redirect/N/<rest>      N >= 1: a 302 to /redirect/N-1/<rest> (relative Location);
//                           N = 0: answered as /<rest>
//   /location/<%-encoded>   a 302 whose Location is the decoded URL
//   /garbage/BYTES/...      BYTES (at most 64 MiB) of the seeded pseudo-random data, 200
//   /close/...              closes the connection without sending a byte
// Any other target, e.g. /Current%20IP%20Check.htm or /ip.php, and any of the above with a
// malformed number, gets the echo page with the client's address. A target in absolute
// form, as a client sends it to a forward proxy ("http://host:port/body/…"), is answered
// by its path, so the server serves as the proxy of any URL.
Handler by_path();
// The path and query of a target in absolute form ("/" when it has none); any other as it is.
std::string origin_form(const std::string& target);
// %XX sequences decoded; a '%' not followed by two hex digits stays as it is.
std::string percent_decode(const std::string& s);

// Names for the command line: paths (by_path), echo, status500, status404, silent, stall, stream (1
// GiB), garbage, rawgarbage, longline, nolinebreak, ipv6, counting, pairs (counting, each
// address twice), close, and a target of by_path's (e.g. /retry/429/30), answered as by_path
// answers it. False if unknown.
bool handler_by_name(const std::string& name, Handler& out);

class HttpServer {
 public:
  enum class Listen {
    Normal,
    Refuse,     // bound (so the port stays reserved) but not listening: connects are refused
    Blackhole,  // listening with a full backlog and never accepting: connects hang
  };
  struct Options {
    std::string bind = "127.0.0.1";
    std::uint16_t port = 0;  // 0: an ephemeral port
    Listen listen = Listen::Normal;
  };

  // Throws std::runtime_error when the address cannot be bound.
  explicit HttpServer(Handler handler = echo());
  HttpServer(Handler handler, Options options);
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;
  ~HttpServer();

  // Stops accepting, ends every connection and joins all threads. Idempotent.
  void stop();

  std::uint16_t port() const { return port_; }
  const std::string& address() const { return bind_; }
  std::string url(const std::string& path = "/") const;

  void set_handler(Handler handler);
  // Complete requests received so far, and their targets in order of arrival.
  std::size_t requests() const { return requests_.load(); }
  std::vector<std::string> paths() const;
  std::size_t requests_for(const std::string& target) const;
  // Connections accepted, answered or not.
  std::size_t connections() const { return connections_.load(); }
  // Body and header bytes handed to the kernel over all connections.
  std::uint64_t bytes_sent() const { return bytes_sent_.load(); }

 private:
  struct Connection {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  enum class Wait { Ready, Timeout, Stopping, Error };

  void accept_loop();
  void serve(int fd, std::string peer);
  bool read_request(int fd, Request& request);
  bool send_all(int fd, const char* data, std::size_t size);
  void send_reply(int fd, const Request& request, const Reply& reply);
  void hold_until_client_leaves(int fd);
  void close_gracefully(int fd);
  Wait wait_for(int fd, short events, int timeout_ms) const;
  bool sleep_unless_stopping(std::chrono::milliseconds d) const;
  void reap(bool all);
  void fill_backlog();

  std::string bind_;
  std::uint16_t port_ = 0;
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  std::vector<int> backlog_fillers_;
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> requests_{0};
  std::atomic<std::size_t> connections_{0};
  std::atomic<std::uint64_t> bytes_sent_{0};

  mutable std::mutex mutex_;  // guards handler_, paths_, connections_list_
  Handler handler_;
  std::vector<std::string> paths_;
  std::list<std::unique_ptr<Connection>> connections_list_;
  std::thread acceptor_;
};

}  // namespace test
