// The local address in the title: the first IPv4 address of the host name, in the order
// the hosts file lists them. Run in a child with its own mount namespace and its own
// /etc/hosts, so the machine's file is never touched.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "logic/ipv4_scope.h"
#include "platform/gtk/own_addresses.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

// Runs lookup() in a forked child that sees `hosts` as /etc/hosts; its text comes back
// through a pipe. Skips when mount namespaces are not allowed here.
std::string with_hosts_file(const std::string& hosts, std::string (*lookup)()) {
  const fs::path file = fs::temp_directory_path() / ("addrova-hosts-" + std::to_string(getpid()));
  std::ofstream(file) << hosts;
  int out[2];
  if (pipe(out) != 0) return "pipe failed";
  const pid_t child = fork();
  if (child == 0) {
    close(out[0]);
    std::string result = "skip";
    if (unshare(CLONE_NEWNS) == 0 &&
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
        mount(file.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) == 0)
      result = lookup();
    if (write(out[1], result.data(), result.size()) < 0) _exit(1);
    _exit(0);
  }
  close(out[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  close(out[0]);
  waitpid(child, nullptr, 0);
  fs::remove(file);
  return text;
}

std::string first_of(const char* name) {
  platform::SocketSession s;
  std::string dotted;
  return s.first_ipv4(name, dotted) ? dotted : "none";
}

constexpr char kHosts[] =
    "127.0.0.1 localhost\n"
    "# a loopback address would be sorted first by destination preference\n"
    "198.51.100.7 addrova-two\n"
    "127.0.0.9 addrova-two\n"
    "127.0.0.1 addrova-one addrova-alias\n";

TEST(SocketSession, FirstAddressIsTheHostsFilesFirstLine) {
  const std::string got = with_hosts_file(kHosts, [] {
    return first_of("addrova-two") + " " + first_of("addrova-alias") + " " +
           first_of("addrova-none.invalid");
  });
  if (got == "skip") GTEST_SKIP() << "no private mount namespace here (needs root)";
  EXPECT_EQ(got, "198.51.100.7 127.0.0.1 none");
}

// The lookup worker calls it on its own thread; several at once must not mix answers.
TEST(SocketSession, LookupsOnSeveralThreadsAtOnce) {
  const std::string got = with_hosts_file(kHosts, [] {
    std::vector<std::string> seen(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i)
      threads.emplace_back([&seen, i] {
        for (int k = 0; k < 50; ++k) {
          const std::string a = first_of(i % 2 ? "addrova-two" : "addrova-one");
          if (a != (i % 2 ? "198.51.100.7" : "127.0.0.1")) seen[i] = a;
        }
      });
    for (auto& t : threads) t.join();
    std::string wrong;
    for (const auto& s : seen) wrong += s;
    return wrong.empty() ? std::string("ok") : wrong;
  });
  if (got == "skip") GTEST_SKIP() << "no private mount namespace here (needs root)";
  EXPECT_EQ(got, "ok");
}

// The loopback interface is always there; its address is among the machine's own.
TEST(OwnAddresses, IncludeTheLoopbackAddress) {
  const std::vector<shared::IpAddress> own = platform::gtk::own_addresses();
  EXPECT_NE(std::find(own.begin(), own.end(), shared::ipv4_mapped(0x7F000001)), own.end());
}

}  // namespace
