#include "http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace test {

namespace {

// How long a client may take to send its request, and to leave after the reply.
constexpr int kRequestTimeoutMs = 10000;
constexpr int kLingerTimeoutMs = 2000;
constexpr std::size_t kMaxRequestBytes = 64 * 1024;

std::string reason_phrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 429:
      return "Too Many Requests";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

std::string header_block(const Reply& reply, std::uint64_t content_length) {
  return "HTTP/1.1 " + std::to_string(reply.status) + " " + reason_phrase(reply.status) +
         "\r\nContent-Type: " + reply.content_type +
         "\r\nContent-Length: " + std::to_string(content_length) +
         (reply.location.empty() ? "" : "\r\nLocation: " + reply.location) +
         (reply.retry_after.empty() ? "" : "\r\nRetry-After: " + reply.retry_after) +
         "\r\nConnection: close\r\nCache-Control: no-cache\r\n\r\n";
}

// Filler lines for streamed bodies: 64 characters each, ending in CR LF.
const std::string& filler_chunk() {
  static const std::string chunk = [] {
    std::string line(62, 'x');
    line += "\r\n";
    std::string c;
    while (c.size() < 64 * 1024) c += line;
    return c;
  }();
  return chunk;
}

void throw_errno(const std::string& what) {
  throw std::runtime_error("HttpServer: " + what + ": " + std::strerror(errno));
}

}  // namespace

// ---- behaviours ------------------------------------------------------------------------

std::string echo_page(const std::string& address) {
  return "<html><head><title>Current IP Check</title></head><body>Current IP Address: " + address +
         "</body></html>\r\n";
}

Handler echo() {
  return [](const Request& r) { return Reply{.body = echo_page(r.peer)}; };
}

Handler fixed(int status, std::string body) {
  return [status, body](const Request&) { return Reply{.status = status, .body = body}; };
}

Handler silent() {
  return [](const Request&) { return Reply{.kind = Reply::Kind::Silent}; };
}

Handler stall_in_body() {
  return [](const Request& r) {
    Reply reply{.kind = Reply::Kind::StallInBody};
    const std::string page = echo_page(r.peer);
    reply.body = page.substr(0, page.size() / 2);
    reply.announced_bytes = page.size() + 1000;
    return reply;
  };
}

Handler stream(std::uint64_t bytes) {
  return [bytes](const Request& r) {
    return Reply{.kind = Reply::Kind::Stream, .body = echo_page(r.peer), .announced_bytes = bytes};
  };
}

std::string garbage_bytes(std::size_t bytes) {
  std::string out(bytes, '\0');
  std::uint64_t x = 0x9E3779B97F4A7C15ull;  // xorshift64, fixed seed
  for (char& c : out) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    c = static_cast<char>(x >> 56);
  }
  return out;
}

Handler garbage(std::size_t bytes, bool raw) {
  const std::string body = garbage_bytes(bytes);
  return [body, raw](const Request&) {
    Reply reply{.body = body};
    if (raw) reply.kind = Reply::Kind::Raw;
    reply.content_type = "application/octet-stream";
    return reply;
  };
}

Handler long_first_line(std::size_t chars) {
  return [chars](const Request& r) {
    std::string line = echo_page(r.peer);
    line.resize(line.size() - 2);  // without its CR LF
    const std::string decoy = "<p>Decoy: 192.0.2.255</p>";
    if (line.size() + decoy.size() < chars) line.append(chars - line.size() - decoy.size(), 'x');
    line += decoy;
    return Reply{.body = line + "\r\nSecond line: 192.0.2.254\r\n"};
  };
}

Handler no_line_break() {
  return [](const Request& r) { return Reply{.body = "Current IP Address: " + r.peer}; };
}

Handler ipv6_body() {
  return [](const Request&) { return Reply{.body = echo_page("2001:db8::1")}; };
}

Handler counting_echo(unsigned each) {
  auto count = std::make_shared<std::atomic<unsigned>>(0);
  return [count, each](const Request&) {
    const unsigned n = (*count)++ / each + 1;
    return Reply{.body = echo_page("10.0." + std::to_string((n >> 8) & 255) + "." +
                                   std::to_string(n & 255))};
  };
}

Handler redirect(std::string location, int status) {
  return [location, status](const Request&) {
    return Reply{
        .status = status, .body = "<html><body>Moved</body></html>\r\n", .location = location};
  };
}

Handler route(std::map<std::string, Handler> by_target, Handler other) {
  return [by_target = std::move(by_target), other = std::move(other)](const Request& r) {
    const auto it = by_target.find(r.target);
    return it != by_target.end() ? it->second(r) : other(r);
  };
}

std::string percent_decode(const std::string& s) {
  const auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
      out += static_cast<char>(hex(s[i + 1]) * 16 + hex(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

namespace {

// Splits "/name/rest" into name and rest ("/name" alone gives an empty rest).
void first_segment(const std::string& target, std::string& name, std::string& rest) {
  const std::size_t start = target.empty() || target[0] != '/' ? 0 : 1;
  const std::size_t slash = target.find('/', start);
  name = target.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
  rest = slash == std::string::npos ? std::string() : target.substr(slash + 1);
}

// A decimal number of at most `max_digits` digits at the start of `s`, up to a '/' or the
// end; false for anything else.
bool leading_number(const std::string& s, std::size_t max_digits, std::uint64_t& value,
                    std::string& after) {
  const std::size_t slash = s.find('/');
  const std::string digits = s.substr(0, slash);
  if (digits.empty() || digits.size() > max_digits) return false;
  value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  after = slash == std::string::npos ? std::string() : s.substr(slash + 1);
  return true;
}

bool dotted_quad(const std::string& s) {
  int parts = 0;
  std::size_t i = 0;
  while (parts < 4) {
    std::size_t digits = 0;
    unsigned value = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && digits < 3) {
      value = value * 10 + static_cast<unsigned>(s[i++] - '0');
      ++digits;
    }
    if (digits == 0 || value > 255) return false;
    if (++parts < 4 && (i >= s.size() || s[i++] != '.')) return false;
  }
  return i == s.size();
}

constexpr std::uint64_t kMaxGarbageBytes = std::uint64_t{64} << 20;

Reply answer_by_path(const Request& request, const std::string& target, int hops_left) {
  std::string name, rest, after;
  std::uint64_t n = 0;
  first_segment(target, name, rest);
  if (name == "echo") {
    const std::string address = rest.substr(0, rest.find('/'));
    return Reply{.body = echo_page(dotted_quad(address) ? address : request.peer)};
  }
  if (name == "status" && leading_number(rest, 3, n, after) && n >= 100 && n <= 599)
    return fixed(static_cast<int>(n), echo_page("192.0.2.1"))(request);
  if (name == "retry" && leading_number(rest, 3, n, after) && n >= 100 && n <= 599) {
    Reply reply = fixed(static_cast<int>(n), echo_page("192.0.2.1"))(request);
    reply.retry_after = percent_decode(after.substr(0, after.find('/')));
    return reply;
  }
  if (name == "silent") return silent()(request);
  if (name == "stall") return stall_in_body()(request);
  if (name == "stream" && leading_number(rest, 19, n, after)) return stream(n)(request);
  if (name == "body") {
    Reply reply{.body = percent_decode(rest)};
    reply.content_type = "application/octet-stream";
    return reply;
  }
  if (name == "redirect" && leading_number(rest, 9, n, after)) {
    if (n == 0 && hops_left > 0) return answer_by_path(request, "/" + after, hops_left - 1);
    if (n > 0) return redirect("/redirect/" + std::to_string(n - 1) + "/" + after)(request);
  }
  if (name == "location") return redirect(percent_decode(rest))(request);
  if (name == "garbage" && leading_number(rest, 9, n, after) && n <= kMaxGarbageBytes)
    return garbage(static_cast<std::size_t>(n))(request);
  if (name == "close") return Reply{.kind = Reply::Kind::Close};
  return echo()(request);
}

}  // namespace

std::string origin_form(const std::string& target) {
  const std::size_t scheme = target.find("://");
  if (scheme == std::string::npos || target.find('/') < scheme) return target;
  const std::size_t path = target.find('/', scheme + 3);
  return path == std::string::npos ? "/" : target.substr(path);
}

Handler by_path() {
  // A chain of /redirect/0/redirect/0/... is followed this deep, then echoed.
  return [](const Request& r) { return answer_by_path(r, origin_form(r.target), 16); };
}

bool handler_by_name(const std::string& name, Handler& out) {
  if (name == "paths") {
    out = by_path();
  } else if (name.starts_with("/")) {
    out = [name](const Request& r) { return answer_by_path(r, name, 16); };
  } else if (name == "echo") {
    out = echo();
  } else if (name == "status500") {
    out = fixed(500, echo_page("192.0.2.1"));
  } else if (name == "status404") {
    out = fixed(404, "<html><body>Not Found</body></html>\r\n");
  } else if (name == "silent") {
    out = silent();
  } else if (name == "stall") {
    out = stall_in_body();
  } else if (name == "stream") {
    out = stream(std::uint64_t{1} << 30);
  } else if (name == "garbage") {
    out = garbage(4096);
  } else if (name == "rawgarbage") {
    out = garbage(4096, true);
  } else if (name == "longline") {
    out = long_first_line();
  } else if (name == "nolinebreak") {
    out = no_line_break();
  } else if (name == "ipv6") {
    out = ipv6_body();
  } else if (name == "counting") {
    out = counting_echo();
  } else if (name == "pairs") {
    out = counting_echo(2);
  } else if (name == "close") {
    out = [](const Request&) { return Reply{.kind = Reply::Kind::Close}; };
  } else {
    return false;
  }
  return true;
}

// ---- server ----------------------------------------------------------------------------

HttpServer::HttpServer(Handler handler) : HttpServer(std::move(handler), Options{}) {}

HttpServer::HttpServer(Handler handler, Options options)
    : bind_(options.bind), handler_(std::move(handler)) {
  if (pipe2(stop_pipe_, O_CLOEXEC | O_NONBLOCK) != 0) throw_errno("pipe");
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) {
    const int saved = errno;
    stop();
    errno = saved;
    throw_errno("socket");
  }
  const int one = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(options.port);
  if (inet_pton(AF_INET, bind_.c_str(), &addr.sin_addr) != 1) {
    stop();
    throw std::runtime_error("HttpServer: not an IPv4 address: " + bind_);
  }
  const int backlog = options.listen == Listen::Blackhole ? 0 : 128;
  socklen_t len = sizeof addr;
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
      (options.listen != Listen::Refuse && listen(listen_fd_, backlog) != 0)) {
    const int saved = errno;
    stop();
    errno = saved;
    throw_errno("cannot listen on " + bind_ + ":" + std::to_string(options.port));
  }
  port_ = ntohs(addr.sin_port);
  if (options.listen == Listen::Normal) {
    acceptor_ = std::thread([this] { accept_loop(); });
  } else if (options.listen == Listen::Blackhole) {
    fill_backlog();
  }
}

HttpServer::~HttpServer() {
  stop();
}

void HttpServer::stop() {
  if (stopping_.exchange(true)) return;
  if (stop_pipe_[1] >= 0) {
    const char byte = 1;
    // The byte is never read, so every poll on the pipe sees it from now on.
    [[maybe_unused]] const ssize_t n = write(stop_pipe_[1], &byte, 1);
  }
  if (acceptor_.joinable()) acceptor_.join();
  reap(true);
  for (int fd : backlog_fillers_) close(fd);
  backlog_fillers_.clear();
  for (int* fd : {&listen_fd_, &stop_pipe_[0], &stop_pipe_[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

std::string HttpServer::url(const std::string& path) const {
  return "http://" + bind_ + ":" + std::to_string(port_) + path;
}

void HttpServer::set_handler(Handler handler) {
  std::lock_guard<std::mutex> hold(mutex_);
  handler_ = std::move(handler);
}

std::vector<std::string> HttpServer::paths() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return paths_;
}

std::size_t HttpServer::requests_for(const std::string& target) const {
  std::lock_guard<std::mutex> hold(mutex_);
  return static_cast<std::size_t>(std::count(paths_.begin(), paths_.end(), target));
}

HttpServer::Wait HttpServer::wait_for(int fd, short events, int timeout_ms) const {
  pollfd fds[2] = {{fd, events, 0}, {stop_pipe_[0], POLLIN, 0}};
  for (;;) {
    const int n = poll(fds, 2, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Wait::Error;
    if (n == 0) return Wait::Timeout;
    if (fds[1].revents != 0) return Wait::Stopping;
    return Wait::Ready;
  }
}

bool HttpServer::sleep_unless_stopping(std::chrono::milliseconds d) const {
  const auto end = std::chrono::steady_clock::now() + d;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    pollfd fd{stop_pipe_[0], POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left.count())) > 0) return false;
  }
}

void HttpServer::accept_loop() {
  for (;;) {
    const Wait w = wait_for(listen_fd_, POLLIN, 1000);
    if (w == Wait::Stopping || w == Wait::Error) return;
    reap(false);
    if (w == Wait::Timeout) continue;
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    const int fd =
        accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) continue;  // the client left already, or a transient shortage
    char dotted[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &peer.sin_addr, dotted, sizeof dotted);
    ++connections_;
    auto connection = std::make_unique<Connection>();
    Connection* c = connection.get();
    std::lock_guard<std::mutex> hold(mutex_);
    connections_list_.push_back(std::move(connection));
    c->thread = std::thread([this, c, fd, peer = std::string(dotted)] {
      serve(fd, peer);
      c->done = true;
    });
  }
}

void HttpServer::reap(bool all) {
  std::list<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    for (auto it = connections_list_.begin(); it != connections_list_.end();) {
      if (all || (*it)->done) {
        finished.push_back(std::move(*it));
        it = connections_list_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : finished)
    if (c->thread.joinable()) c->thread.join();
}

void HttpServer::fill_backlog() {
  // With a backlog of 0 the kernel queues one connection; once that slot is taken it
  // drops further SYNs, so a client's connect neither succeeds nor is refused.
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port_);
  inet_pton(AF_INET, bind_.c_str(), &addr.sin_addr);
  for (int i = 0; i < 8; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    backlog_fillers_.push_back(fd);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) continue;
    if (errno != EINPROGRESS) return;
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 200) == 0) return;  // this one hangs: the queue is full
  }
}

bool HttpServer::read_request(int fd, Request& request) {
  std::string buffer;
  std::size_t end = std::string::npos;
  std::size_t sep = 0;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestTimeoutMs);
  while (end == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0 || buffer.size() > kMaxRequestBytes) return false;
    if (wait_for(fd, POLLIN, static_cast<int>(left)) != Wait::Ready) return false;
    char chunk[4096];
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(n));
    if ((end = buffer.find("\r\n\r\n")) != std::string::npos) {
      sep = 4;
    } else if ((end = buffer.find("\n\n")) != std::string::npos) {
      sep = 2;
    }
  }
  const std::size_t eol = buffer.find('\n');
  std::string first = buffer.substr(0, eol);
  if (!first.empty() && first.back() == '\r') first.pop_back();
  const std::size_t s1 = first.find(' ');
  const std::size_t s2 = s1 == std::string::npos ? s1 : first.find(' ', s1 + 1);
  request.method = first.substr(0, s1);
  if (s1 != std::string::npos) request.target = first.substr(s1 + 1, s2 - s1 - 1);
  if (s2 != std::string::npos) request.version = first.substr(s2 + 1);
  if (eol < end) request.headers = buffer.substr(eol + 1, end + sep - eol - 1);
  return true;
}

bool HttpServer::send_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n > 0) {
      bytes_sent_ += static_cast<std::uint64_t>(n);
      data += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // A client that stops reading for this long has gone as far as it will.
      if (wait_for(fd, POLLOUT, 30000) != Wait::Ready) return false;
      continue;
    }
    return false;
  }
  return true;
}

void HttpServer::hold_until_client_leaves(int fd) {
  for (;;) {
    if (wait_for(fd, POLLIN, -1) != Wait::Ready) break;
    char chunk[4096];
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
  }
  close(fd);
}

void HttpServer::close_gracefully(int fd) {
  // Half-close, then wait for the client's close: closing with unread input would make
  // the kernel send a reset, which can destroy the reply before the client has read it.
  shutdown(fd, SHUT_WR);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kLingerTimeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0 || wait_for(fd, POLLIN, static_cast<int>(left)) != Wait::Ready) break;
    char chunk[4096];
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
  }
  close(fd);
}

void HttpServer::send_reply(int fd, const Request&, const Reply& reply) {
  using Kind = Reply::Kind;
  switch (reply.kind) {
    case Kind::Close:
      close(fd);
      return;
    case Kind::Silent:
      hold_until_client_leaves(fd);
      return;
    case Kind::Raw:
      send_all(fd, reply.body.data(), reply.body.size());
      close_gracefully(fd);
      return;
    case Kind::Complete: {
      const std::string all = header_block(reply, reply.body.size()) + reply.body;
      if (send_all(fd, all.data(), all.size())) {
        close_gracefully(fd);
      } else {
        close(fd);
      }
      return;
    }
    case Kind::StallInBody: {
      const std::string all = header_block(reply, reply.announced_bytes) + reply.body;
      if (send_all(fd, all.data(), all.size())) {
        hold_until_client_leaves(fd);
      } else {
        close(fd);
      }
      return;
    }
    case Kind::Stream: {
      const std::string head = header_block(reply, reply.announced_bytes);
      std::string first = reply.body.substr(0, reply.announced_bytes);
      bool ok = send_all(fd, head.data(), head.size()) && send_all(fd, first.data(), first.size());
      std::uint64_t left = reply.announced_bytes - first.size();
      const std::string& chunk = filler_chunk();
      while (ok && left > 0 && !stopping_) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
        ok = send_all(fd, chunk.data(), n);
        left -= n;
      }
      if (ok) {
        close_gracefully(fd);
      } else {
        close(fd);
      }
      return;
    }
  }
  close(fd);
}

void HttpServer::serve(int fd, std::string peer) {
  Request request;
  request.peer = std::move(peer);
  if (!read_request(fd, request)) {
    close(fd);
    return;
  }
  Handler handler;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    paths_.push_back(request.target);
    handler = handler_;
  }
  ++requests_;
  const Reply reply = handler(request);
  if (reply.delay.count() > 0 && !sleep_unless_stopping(reply.delay)) {
    close(fd);
    return;
  }
  send_reply(fd, request, reply);
}

}  // namespace test
