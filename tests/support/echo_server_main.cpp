// echo_server: the test HTTP server as a program, for scripts and the benchmark.
//
//   echo_server [--port N] [--bind ADDR] [--mode MODE] [--route TARGET=MODE]...
//               [--delay MS] [--ready-file PATH] [--log PATH]
//
// Serves until SIGTERM or SIGINT. Without --mode every request is answered by its path
// (test::by_path, the grammar in http_server.h), so one server serves every test. MODE is
// one of the names handler_by_name knows (paths, echo, status500, status404, silent, stall,
// stream, garbage, rawgarbage, longline, nolinebreak, ipv6, counting, pairs, close, or a
// target of that grammar such as /retry/429/30) or "refuse" (bound but not listening) or
// "blackhole" (connects hang). --route gives one request
// target its own mode; the rest get --mode. --delay holds every answer back until the
// clock's next multiple of MS milliseconds, so that clients asking within one such span
// are answered at the same moment. Once listening, the port number is written to the
// ready file (created under another name, then renamed, so a reader never sees it half
// written). --log appends one line per request:
// "<seconds since the epoch, with microseconds> <method> <target> <client address>".
#include <signal.h>
#include <sys/time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "http_server.h"

namespace {

int usage(const char* why) {
  std::fprintf(stderr,
               "echo_server: %s\nusage: echo_server [--port N] [--bind ADDR] [--mode MODE] "
               "[--route TARGET=MODE]... [--delay MS] [--ready-file PATH] [--log PATH]\n",
               why);
  return 2;
}

bool write_ready_file(const std::string& path, unsigned port) {
  const std::string tmp = path + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "w");
  if (!f) return false;
  std::fprintf(f, "%u\n", port);
  if (std::fclose(f) != 0) return false;
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  test::HttpServer::Options options;
  std::string mode = "paths";
  std::string ready_file, log_path;
  std::map<std::string, std::string> routes;
  long delay_ms = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return usage(("missing value after " + arg).c_str());
    const std::string value = argv[++i];
    if (arg == "--port") {
      char* end = nullptr;
      const long port = std::strtol(value.c_str(), &end, 10);
      if (*end != '\0' || port < 0 || port > 65535) return usage("bad port");
      options.port = static_cast<std::uint16_t>(port);
    } else if (arg == "--bind") {
      options.bind = value;
    } else if (arg == "--mode") {
      mode = value;
    } else if (arg == "--route") {
      const std::size_t eq = value.find('=');
      if (eq == std::string::npos) return usage("--route needs TARGET=MODE");
      routes[value.substr(0, eq)] = value.substr(eq + 1);
    } else if (arg == "--delay") {
      char* end = nullptr;
      delay_ms = std::strtol(value.c_str(), &end, 10);
      if (*end != '\0' || delay_ms < 0 || delay_ms > 60000) return usage("bad delay");
    } else if (arg == "--ready-file") {
      ready_file = value;
    } else if (arg == "--log") {
      log_path = value;
    } else {
      return usage(("unknown option " + arg).c_str());
    }
  }

  test::Handler handler;
  if (mode == "refuse") {
    options.listen = test::HttpServer::Listen::Refuse;
  } else if (mode == "blackhole") {
    options.listen = test::HttpServer::Listen::Blackhole;
  } else if (!test::handler_by_name(mode, handler)) {
    return usage(("unknown mode " + mode).c_str());
  }
  if (!routes.empty()) {
    std::map<std::string, test::Handler> by_target;
    for (const auto& [target, name] : routes)
      if (!test::handler_by_name(name, by_target[target]))
        return usage(("unknown mode " + name).c_str());
    handler = test::route(std::move(by_target), handler ? handler : test::echo());
  }
  if (delay_ms > 0) {
    handler = [delay_ms, inner = handler ? handler : test::echo()](const test::Request& r) {
      test::Reply reply = inner(r);
      const long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
      reply.delay = std::chrono::milliseconds(delay_ms - now % delay_ms);
      return reply;
    };
  }
  if (!log_path.empty()) {
    std::shared_ptr<FILE> log(std::fopen(log_path.c_str(), "a"), [](FILE* f) {
      if (f) std::fclose(f);
    });
    if (!log) return usage(("cannot open log " + log_path).c_str());
    auto lock = std::make_shared<std::mutex>();
    handler = [log, lock, inner = handler](const test::Request& r) {
      timeval now{};
      gettimeofday(&now, nullptr);
      {
        std::lock_guard<std::mutex> hold(*lock);
        std::fprintf(log.get(), "%lld.%06ld %s %s %s\n", static_cast<long long>(now.tv_sec),
                     static_cast<long>(now.tv_usec), r.method.c_str(), r.target.c_str(),
                     r.peer.c_str());
        std::fflush(log.get());
      }
      return inner(r);
    };
  }

  // The signals are taken by sigwait below, never by a handler, so the server's threads
  // (which inherit this mask) are never interrupted.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  std::unique_ptr<test::HttpServer> server;
  try {
    server = std::make_unique<test::HttpServer>(handler ? handler : test::echo(), options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "echo_server: %s\n", e.what());
    return 1;
  }
  if (!ready_file.empty() && !write_ready_file(ready_file, server->port())) {
    std::fprintf(stderr, "echo_server: cannot write %s: %s\n", ready_file.c_str(),
                 std::strerror(errno));
    return 1;
  }
  int sig = 0;
  sigwait(&stop_signals, &sig);
  server->stop();
  std::printf("echo_server: %zu requests\n", server->requests());
  return 0;
}
