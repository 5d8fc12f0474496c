// Runs the real program binary from the outside: in a private network and mount namespace
// whose hosts file sends the address-echo host names (and this machine's name) to a loopback
// address, where echo_server listens on port 80; on a private Xvfb display; the clipboard
// read with xclip, windows found with xdotool and measured with xwininfo.
//
// The binaries and the endpoints' host names come from the build (blackbox_config.h).
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <vector>

namespace bb {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A child process, ended (TERM, then KILL) when it goes out of scope.
class Process {
 public:
  Process() = default;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() { stop(); }

  // Starts argv[0] (looked up in PATH) with `env` added to the environment, standard
  // output and error going to `output`. `keep_fd` stays open in the child.
  void start(const std::vector<std::string>& argv, const fs::path& output,
             const std::vector<std::string>& env = {}, int keep_fd = -1);
  pid_t pid() const { return pid_; }
  bool running();
  // The exit status (128 + signal when killed) once it has ended within `limit`.
  std::optional<int> wait_exit(std::chrono::milliseconds limit);
  void stop();

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

struct Output {
  int status = -1;  // exit status; -1 when it had to be killed at the time limit
  std::string text;
};
// Runs argv to its end, at most `limit`; standard output (and error with `merge`; else
// error goes to `err_to`, when given). In `env`, a bare NAME removes that variable.
Output run(const std::vector<std::string>& argv, std::chrono::milliseconds limit = 5s,
           const std::vector<std::string>& env = {}, bool merge = false,
           const fs::path& err_to = {});

// Polls `done` every 20 ms; false when `limit` passed first.
bool wait_until(std::chrono::milliseconds limit, const std::function<bool()>& done);

std::string read_file(const fs::path& p);
void write_file(const fs::path& p, const std::string& bytes);
bool ci();
// Empty when every tool is in PATH, else what is missing.
std::string missing_tools(const std::vector<std::string>& tools);

// The address "A" in the hosts file: where echo_server is (127.0.0.1) or where nothing
// listens (127.0.0.2).
constexpr char kServer[] = "127.0.0.1";
constexpr char kNobody[] = "127.0.0.2";
extern const std::string kTargetA;  // the request targets as echo_server logs them
extern const std::string kTargetB;
// What the program's environment goes without: it starts in the C locale, as in a bare
// container or service, unless a test gives it one (the tools run in C.UTF-8).
extern const std::vector<std::string> kNoLocale;

class Harness : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Why this process cannot have a namespace of its own ("" once it has one): needs root.
  std::string enter_namespace();
  // Hosts file: endpoint A's host name to `a`, endpoint B's and this machine's to 127.0.0.1.
  void write_hosts(const std::string& a);
  // Xvfb on a free display, DISPLAY set for every child; false when it did not start.
  bool start_xvfb(const std::string& size = "1280x1024x24");
  // echo_server on 127.0.0.1:80 (the one before ended); false when not ready in 5 s.
  bool start_echo_server(const std::vector<std::string>& options = {"--mode", "echo"});
  // Requests logged for `target`, and their times in seconds since the epoch.
  std::vector<double> request_times(const std::string& target) const;
  std::size_t requests_for(const std::string& target) const { return request_times(target).size(); }
  // A copy of the program in its own folder (where its Addrova.ini goes).
  fs::path copy_program();
  // Starts `binary` (the build's program by default) with a private home and no locale
  // (kNoLocale, then `env`), after `prefix` (a command that runs it as another user, say).
  void start_program(const fs::path& binary = {}, const std::vector<std::string>& env = {},
                     const std::vector<std::string>& prefix = {});

  std::string clipboard() const;
  // The first window whose name matches the regular expression `name`; "" when none.
  std::string find_window(const std::string& name, bool visible = true) const;
  std::string window_name(const std::string& id) const;
  struct Geometry {
    int x = 0, y = 0, w = 0, h = 0;
  };
  Geometry geometry(const std::string& id) const;
  // Waits until `n` lookups (requests for endpoint A) are logged; false when the program
  // ended or none came for `stall`.
  bool await_lookups(std::size_t n, std::chrono::seconds stall);

  fs::path work_;
  std::string host_name_;
  Process program_;
  std::chrono::system_clock::time_point started_;  // just before the program's fork

 private:
  fs::path hosts_;
  bool bound_hosts_ = false;
  std::list<Process> helpers_;  // Xvfb
  std::unique_ptr<Process> echo_;
};

// Skips the test when the machine cannot run it; under CI=true that is a failure.
#define BB_NEED(reason_expr)                                             \
  do {                                                                   \
    const std::string bb_reason = (reason_expr);                         \
    if (!bb_reason.empty()) {                                            \
      if (::bb::ci()) FAIL() << bb_reason << " (CI=true: not skipping)"; \
      GTEST_SKIP() << bb_reason;                                         \
    }                                                                    \
  } while (0)

// A namespace of its own.
class Namespaced : public Harness {
 protected:
  void SetUp() override {
    Harness::SetUp();
    BB_NEED(enter_namespace());
  }
};

// A namespace of its own and an Xvfb display: what a run of the program needs.
class Desktop : public Namespaced {
 protected:
  void SetUp() override {
    BB_NEED(missing_tools({"Xvfb", "xclip", "xdotool"}));
    Namespaced::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(start_xvfb()) << read_file(work_ / "xvfb.out");
  }
};

}  // namespace bb
