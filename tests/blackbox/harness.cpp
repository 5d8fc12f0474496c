#include "harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "blackbox_config.h"

namespace bb {

const std::string kTargetA = "/Current%20IP%20Check.htm";
const std::string kTargetB = "/ip.php";
const std::vector<std::string> kNoLocale = {"LANG", "LC_ALL", "LC_CTYPE"};

namespace {

[[noreturn]] void exec_child(const std::vector<std::string>& argv,
                             const std::vector<std::string>& env) {
  for (const std::string& kv : env) {
    const std::size_t eq = kv.find('=');
    if (eq == std::string::npos)
      unsetenv(kv.c_str());  // a bare name: removed
    else
      setenv(kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str(), 1);
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

int decode(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The loopback interface up, with 127.0.0.2 beside 127.0.0.1: a machine on a network has
// an IPv4 address besides 127.0.0.1, and without one GLib's resolver (getaddrinfo with
// AI_ADDRCONFIG) finds no IPv4 address for any name.
bool set_loopback_up() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq ifr{};
  std::strcpy(ifr.ifr_name, "lo");
  bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
  ifr.ifr_flags |= IFF_UP | IFF_RUNNING;
  ok = ok && ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
  ifreq alias{};
  std::strcpy(alias.ifr_name, "lo:1");
  auto* in = reinterpret_cast<sockaddr_in*>(&alias.ifr_addr);
  in->sin_family = AF_INET;
  ok = ok && inet_pton(AF_INET, "127.0.0.2", &in->sin_addr) == 1 &&
       ioctl(fd, SIOCSIFADDR, &alias) == 0;
  close(fd);
  return ok;
}

}  // namespace

void Process::start(const std::vector<std::string>& argv, const fs::path& output,
                    const std::vector<std::string>& env, int keep_fd) {
  stop();
  status_.reset();
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    if (keep_fd >= 0) fcntl(keep_fd, F_SETFD, 0);
    exec_child(argv, env);
  }
  pid_ = pid;
}

bool Process::running() {
  if (pid_ < 0 || status_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = decode(status);
    return false;
  }
  return true;
}

std::optional<int> Process::wait_exit(std::chrono::milliseconds limit) {
  if (pid_ < 0) return std::nullopt;
  wait_until(limit, [&] { return !running(); });
  return status_;
}

void Process::stop() {
  if (!running()) return;
  kill(pid_, SIGTERM);
  if (!wait_exit(3s)) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    status_ = decode(status);
  }
}

Output run(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
           const std::vector<std::string>& env, bool merge, const fs::path& err_to) {
  Output result;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return result;
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(fds[1], 1);
    const int err =
        err_to.empty() ? null : open(err_to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(merge ? fds[1] : err, 2);
    exec_child(argv, env);
  }
  close(fds[1]);
  const auto end = std::chrono::steady_clock::now() + limit;
  char buf[4096];
  bool timed_out = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timed_out = true;
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    result.text.append(buf, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  if (timed_out) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = timed_out ? -1 : decode(status);
  return result;
}

bool wait_until(std::chrono::milliseconds limit, const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void write_file(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

bool ci() {
  const char* v = std::getenv("CI");
  return v && std::string(v) == "true";
}

std::string missing_tools(const std::vector<std::string>& tools) {
  std::string missing;
  for (const std::string& tool : tools) {
    if (run({"sh", "-c", "command -v \"$0\"", tool}).status != 0) missing += " " + tool;
  }
  return missing.empty() ? "" : "not installed:" + missing;
}

void Harness::SetUp() {
  char dir[] = "/tmp/addrova-blackbox-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  work_ = dir;
  fs::create_directories(work_ / "home" / "config");
  fs::permissions(work_, fs::perms::owner_all);
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  host_name_ = name;
  hosts_ = work_ / "hosts";
}

void Harness::TearDown() {
  program_.stop();
  echo_.reset();
  helpers_.clear();
  if (bound_hosts_) umount2("/etc/hosts", MNT_DETACH);
  bound_hosts_ = false;
  if (work_.empty()) return;
  if (!std::getenv("BLACKBOX_KEEP"))
    fs::remove_all(work_);
  else
    std::printf("work directory kept: %s\n", work_.c_str());
}

std::string Harness::enter_namespace() {
  static std::string why = [] {
    if (geteuid() != 0) return std::string("needs root for a network namespace");
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0)
      return std::string("cannot create a network namespace: ") + std::strerror(errno);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      return std::string("cannot make the mounts private: ") + std::strerror(errno);
    if (!set_loopback_up()) return std::string("cannot bring the loopback interface up");
    return std::string();
  }();
  if (!why.empty()) return why;
  write_hosts(kServer);
  // Every process started from here on reads this file as /etc/hosts.
  if (mount(hosts_.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0)
    return std::string("cannot bind the hosts file over /etc/hosts: ") + std::strerror(errno);
  bound_hosts_ = true;
  return "";
}

void Harness::write_hosts(const std::string& a) {
  // Rewritten in place: the bind mount holds this inode.
  write_file(hosts_, "127.0.0.1 localhost\n" + a + " " ADDROVA_ENDPOINT_A_HOST "\n" +
                         "127.0.0.1 " ADDROVA_ENDPOINT_B_HOST "\n127.0.0.1 " + host_name_ + "\n");
}

bool Harness::start_xvfb(const std::string& size) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  // A display whose socket file is not there. Xvfb's own choice would be any display it can
  // listen on, and in this network namespace the abstract socket of the display the test
  // command uses is free: it would take that display and remove its socket file at the end.
  int display = 90;
  while (fs::exists("/tmp/.X11-unix/X" + std::to_string(display)) ||
         fs::exists("/tmp/.X" + std::to_string(display) + "-lock"))
    ++display;
  Process& xvfb = helpers_.emplace_back();
  xvfb.start({"Xvfb", ":" + std::to_string(display), "-displayfd", std::to_string(fds[1]),
              "-screen", "0", size, "-noreset", "-nolisten", "tcp"},
             work_ / "xvfb.out", {}, fds[1]);
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  char c = 0;
  while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (number.empty() || !xvfb.running()) return false;
  setenv("DISPLAY", (":" + number).c_str(), 1);
  return wait_until(5s, [] { return run({"xdotool", "getdisplaygeometry"}).status == 0; });
}

bool Harness::start_echo_server(const std::vector<std::string>& options) {
  echo_ = std::make_unique<Process>();
  fs::remove(work_ / "ready");
  write_file(work_ / "requests.log", "");
  std::vector<std::string> argv = {ADDROVA_ECHO_SERVER,
                                   "--port",
                                   "80",
                                   "--bind",
                                   kServer,
                                   "--ready-file",
                                   work_ / "ready",
                                   "--log",
                                   work_ / "requests.log"};
  argv.insert(argv.end(), options.begin(), options.end());
  echo_->start(argv, work_ / "echo_server.out");
  return wait_until(5s, [&] { return fs::exists(work_ / "ready"); });
}

std::vector<double> Harness::request_times(const std::string& target) const {
  std::istringstream log(read_file(work_ / "requests.log"));
  std::vector<double> times;
  std::string t, method, path, line;
  while (std::getline(log, line)) {
    std::istringstream fields(line);
    if (fields >> t >> method >> path && path == target) times.push_back(std::stod(t));
  }
  return times;
}

fs::path Harness::copy_program() {
  fs::create_directories(work_ / "app");
  fs::copy_file(ADDROVA_PROGRAM, work_ / "app" / "Addrova");
  return work_ / "app" / "Addrova";
}

void Harness::start_program(const fs::path& binary, const std::vector<std::string>& env,
                            const std::vector<std::string>& prefix) {
  std::vector<std::string> all = kNoLocale;
  all.insert(all.end(), {"HOME=" + (work_ / "home").string(),
                         "XDG_CONFIG_HOME=" + (work_ / "home" / "config").string(),
                         "XDG_RUNTIME_DIR=" + work_.string(),
                         // GTK's process-lifetime caches are no leak of the program.
                         "ASAN_OPTIONS=detect_leaks=0"});
  all.insert(all.end(), env.begin(), env.end());
  started_ = std::chrono::system_clock::now();
  std::vector<std::string> argv = prefix;
  argv.push_back(binary.empty() ? fs::path(ADDROVA_PROGRAM) : binary);
  program_.start(argv, work_ / "program.out", all);
}

std::string Harness::clipboard() const {
  return run({"xclip", "-selection", "clipboard", "-o"}).text;
}

std::string Harness::find_window(const std::string& name, bool visible) const {
  std::vector<std::string> argv = {"xdotool", "search", "--name", name};
  if (visible) argv.insert(argv.begin() + 2, "--onlyvisible");
  const std::string out = run(argv).text;
  return out.substr(0, out.find('\n'));
}

std::string Harness::window_name(const std::string& id) const {
  std::string out = run({"xdotool", "getwindowname", id}).text;
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

Harness::Geometry Harness::geometry(const std::string& id) const {
  Geometry g;
  std::istringstream in(run({"xwininfo", "-id", id}).text);
  std::string line;
  auto last = [&] { return std::stoi(line.substr(line.rfind(' ') + 1)); };
  while (std::getline(in, line)) {
    if (line.find("Absolute upper-left X:") != std::string::npos) g.x = last();
    if (line.find("Absolute upper-left Y:") != std::string::npos) g.y = last();
    if (line.find("Width:") != std::string::npos) g.w = last();
    if (line.find("Height:") != std::string::npos) g.h = last();
  }
  return g;
}

bool Harness::await_lookups(std::size_t n, std::chrono::seconds stall) {
  std::size_t last = 0;
  auto last_change = std::chrono::steady_clock::now();
  for (;;) {
    const std::size_t seen = requests_for(kTargetA);
    if (seen >= n) return true;
    if (!program_.running()) {
      ADD_FAILURE() << "the program ended after " << seen << " lookups";
      return false;
    }
    if (seen != last) {
      last = seen;
      last_change = std::chrono::steady_clock::now();
    } else if (std::chrono::steady_clock::now() - last_change > stall) {
      ADD_FAILURE() << "lookups stopped at " << seen << " (none for " << stall.count() << " s)";
      return false;
    }
    std::this_thread::sleep_for(200ms);
  }
}

}  // namespace bb

// A run that could not happen here ends with 77, which CTest reports as skipped.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The tools (xdotool, xwininfo, xclip) match and print the Japanese window titles as
  // UTF-8 whatever locale the machine has, or has not (C.UTF-8 is on every Debian, without
  // the locales package). The program gets none of this: see kNoLocale.
  setenv("LC_ALL", "C.UTF-8", 1);
  const int status = RUN_ALL_TESTS();
  const auto* unit = ::testing::UnitTest::GetInstance();
  if (status == 0 && unit->skipped_test_count() > 0 && unit->successful_test_count() == 0)
    return 77;
  return status;
}
