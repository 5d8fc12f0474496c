// download_to_file and its limits against the test server: the answer, HTTP errors,
// refused and unanswered connections, bodies that stall or run past the size cap, and the
// redirects a download may follow. Every failure leaves the older file as it was.
#include <chrono>
#include <string>
#include <utility>

#include "contract.h"

namespace {

using contract::body_path;
using contract::seconds_since;
using contract::unique;
using contract::url;

class ContractDownload : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(contract::server().empty()) << "ADDROVA_TEST_SERVER is not set";
    platform::save_text_line(file_.path(), "older");
  }
  void TearDown() override { platform::set_download_limits(platform::DownloadLimits{}); }

  static void limits(long connect_ms, long total_ms, std::size_t max_bytes) {
    platform::DownloadLimits l;
    l.connect_timeout_ms = connect_ms;
    l.total_timeout_ms = total_ms;
    l.max_bytes = max_bytes;
    platform::set_download_limits(l);
  }
  // The download fails and the file still holds the older line.
  void expect_fails(const std::string& from) {
    EXPECT_FALSE(platform::download_to_file(from, file_.path())) << from;
    EXPECT_EQ(contract::read_all(file_.path()), "older\r\n") << from;
  }
  std::string path() const { return file_.path(); }

 private:
  contract::TempFile file_{"download"};
};

TEST_F(ContractDownload, TheAnswerIsWrittenByteForByte) {
  const std::string body = "198.51.100.7\r\n" + unique() + std::string("\0\xff\r\n", 4);
  ASSERT_TRUE(platform::download_to_file(url(body_path(body)), path()));
  EXPECT_EQ(contract::read_all(path()), body);
}

TEST_F(ContractDownload, HttpErrorFailsAndKeepsTheOlderFile) {
  for (const char* status : {"404", "500", "503"})
    expect_fails(url("/status/" + std::string(status) + "/" + unique()));
}

// A service asking its clients to wait, with a number of seconds or a date: the download
// fails and tells the status and the Retry-After header as sent. An answer without one
// tells its status alone, and no answer the status 0.
TEST_F(ContractDownload, AnAnswerAskingToWaitTellsItsStatusAndRetryAfter) {
  platform::DownloadReply reply;
  for (const auto& [status, wait] :
       {std::pair<int, std::string>{429, "30"}, {503, "Sun, 06 Nov 1994 08:49:37 GMT"}}) {
    const std::string from =
        url("/retry/" + std::to_string(status) + "/" + test::percent_encode(wait) + "/" + unique());
    EXPECT_FALSE(platform::download_to_file(from, path(), &reply)) << from;
    EXPECT_EQ(reply.status, status);
    EXPECT_EQ(reply.retry_after, wait);
    EXPECT_EQ(contract::read_all(path()), "older\r\n");
  }
  ASSERT_TRUE(
      platform::download_to_file(url(body_path("192.0.2.7\r\n" + unique())), path(), &reply));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.retry_after, "");
  EXPECT_FALSE(platform::download_to_file(contract::refused_url() + unique(), path(), &reply));
  EXPECT_EQ(reply.status, 0);
}

TEST_F(ContractDownload, RefusedOrClosedConnectionFailsAtOnce) {
  limits(5000, 10000, 64 * 1024);
  const auto start = std::chrono::steady_clock::now();
  expect_fails(contract::refused_url() + unique());
  expect_fails(url("/close/" + unique()));
  EXPECT_LT(seconds_since(start), 4.0);
}

// ---- a silent service, and redirects refused before they are asked for ----------------

// A server that takes the connection and never answers is given up once the connect limit
// passed without a byte of an answer, also where a redirect led to it; the total limit is
// for an answer that is slow but alive.
TEST_F(ContractDownload, SilentServerIsGivenUpAtTheConnectLimit) {
  limits(1000, 6000, 64 * 1024);
  for (const std::string& silent :
       {url("/silent/" + unique()), url("/redirect/1/silent/" + unique())}) {
    const auto start = std::chrono::steady_clock::now();
    expect_fails(silent);
    const double seconds = seconds_since(start);
    EXPECT_GE(seconds, 0.9) << silent;
    EXPECT_LT(seconds, 3.0) << silent;
  }
}

// How many requests for `target` the test server's log (ADDROVA_TEST_SERVER_LOG, one line
// "<time> <method> <target> <client>" each) holds; -1 without a log.
int logged_requests(const std::string& target) {
  const char* log = std::getenv("ADDROVA_TEST_SERVER_LOG");
  std::string text;
  if (!log || !platform::read_file_prefix(log, 64 << 20, text)) return -1;
  int count = 0;
  for (std::size_t at = text.find(" " + target + " "); at != std::string::npos;
       at = text.find(" " + target + " ", at + 1))
    ++count;
  return count;
}

// From an origin on a public address outside this machine (ADDROVA_PUBLIC_SERVER, HOST:PORT
// of a server answering by the test server's paths; the black-box runs start one), a
// redirect to the test server on this machine is refused, by http and by https, and the
// test server never hears a request for it. A redirect to another public URL is followed.
TEST_F(ContractDownload, RedirectFromAPublicOriginIntoThisMachineIsNeverAskedFor) {
  const char* pub = std::getenv("ADDROVA_PUBLIC_SERVER");
  if (!pub) GTEST_SKIP() << "needs a server on a public address: run by the black-box tests";
  const std::string origin = std::string("http://") + pub;
  for (const std::string scheme : {"http", "https"}) {
    const std::string target = "/echo/192.0.2.81/" + unique();
    const std::string local = scheme + "://" + contract::server() + target;
    expect_fails(origin + "/location/" + test::percent_encode(local));
    EXPECT_NE(logged_requests(target), -1) << "no request log to check";
    EXPECT_LE(logged_requests(target), 0) << local << " was asked for";
  }
  const std::string body = "192.0.2.82\r\n" + unique();
  ASSERT_TRUE(platform::download_to_file(origin + "/redirect/1" + body_path(body), path()));
  EXPECT_EQ(contract::read_all(path()), body);
}

// ---- bodies that stall or run long, and the redirects a download may follow ----------

// Headers and the start of a body, then silence: given up within the limits too (at the
// total limit where the system reports the answer's start, else at the connect limit).
TEST_F(ContractDownload, BodyThatStallsFailsWithinTheLimits) {
  limits(1000, 2500, 64 * 1024);
  const auto start = std::chrono::steady_clock::now();
  expect_fails(url("/stall/" + unique()));
  const double seconds = seconds_since(start);
  EXPECT_GE(seconds, 0.9);
  EXPECT_LT(seconds, 4.5);
}

// Past the cap a download fails, leaving the older file, or ends at the cap with the start
// of the body; either way the file never holds more than the cap.
TEST_F(ContractDownload, BodyPastTheSizeCapNeverExceedsItInTheFile) {
  limits(5000, 10000, 4096);
  // Streamed bodies keep the URLs short: the system may refuse to cache a very long one.
  // Each starts with the echo page's line.
  const std::string start = "<html>";
  const auto cut_or_failed = [&](const std::string& from) {
    const bool ok = platform::download_to_file(from, path());
    const std::string got = contract::read_all(path());
    if (ok) {
      EXPECT_EQ(got.size(), 4096u) << from;
      EXPECT_EQ(got.substr(0, start.size()), start) << from;
    } else {
      EXPECT_EQ(got, "older\r\n") << from;
    }
    platform::save_text_line(path(), "older");
  };
  cut_or_failed(url("/stream/100000/" + unique()));
  cut_or_failed(url("/stream/4097/" + unique()));
  ASSERT_TRUE(platform::download_to_file(url("/stream/4096/" + unique()), path()));
  const std::string got = contract::read_all(path());
  EXPECT_EQ(got.size(), 4096u);
  EXPECT_EQ(got.substr(0, start.size()), start);
}

TEST_F(ContractDownload, FiveRedirectsAreFollowedButNotSix) {
  const std::string five = "192.0.2.55\r\n" + unique();
  ASSERT_TRUE(platform::download_to_file(url("/redirect/5" + body_path(five)), path()));
  EXPECT_EQ(contract::read_all(path()), five);
  platform::save_text_line(path(), "older");
  expect_fails(url("/redirect/6" + body_path("192.0.2.56\r\n" + unique())));
  // An absolute Location naming the same server is followed too.
  const std::string absolute = "192.0.2.57\r\n" + unique();
  ASSERT_TRUE(platform::download_to_file(
      url("/location/" + test::percent_encode(url(body_path(absolute)))), path()));
  EXPECT_EQ(contract::read_all(path()), absolute);
}

// Only http and https: not a local file (one that exists, so that following the redirect
// would have succeeded) nor ftp.
TEST_F(ContractDownload, RedirectToAnotherSchemeIsRefused) {
  contract::TempFile other("redirect_target");
  platform::save_text_line(other.path(), "192.0.2.66");
  std::string file_url = other.path();
  for (char& c : file_url)
    if (c == '\\') c = '/';
  file_url = "file://" + std::string(file_url[0] == '/' ? "" : "/") + file_url;
  expect_fails(url("/location/" + test::percent_encode(file_url)));  // a new name each run
  expect_fails(url("/location/" + test::percent_encode("ftp://127.0.0.1/ip.txt?" + unique())));
}

}  // namespace

// ---- proxies -----------------------------------------------------------------------------

namespace {

// A forward proxy named by http_proxy carries the download: nothing listens at the URL's
// own port, and the test server, as the proxy, answers by the request's absolute URL.
TEST_F(ContractDownload, ProxyFromTheEnvironmentCarriesTheDownload) {
  const contract::ScopedEnv proxy("http_proxy", "http://" + contract::server() + "/");
  const contract::ScopedEnv none("no_proxy", "");
  const contract::ScopedEnv none_upper("NO_PROXY", "");
  const std::string body = "192.0.2.88\r\n" + unique();
  ASSERT_TRUE(
      platform::download_to_file(contract::refused_url() + body_path(body).substr(1), path()));
  EXPECT_EQ(contract::read_all(path()), body);
}

}  // namespace
