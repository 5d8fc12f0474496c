// Downloads under limits of time and size, and the redirects they may follow, against
// the loopback test server, whose paths make it hang, stall or redirect.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "Unit1/retrieval.h"
#include "platform/platform.h"
#include "test_server.h"

namespace {

using test::percent_encode;
using wintest::echo_page;
using wintest::fresh_url;
using wintest::server_url;

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string read_all(const std::string& path) {
  std::string bytes;
  platform::read_file_prefix(path, 1 << 20, bytes);
  return bytes;
}

// Short limits for one test, the defaults again afterwards.
class ScopedLimits {
 public:
  ScopedLimits(long connect_ms, long total_ms, std::size_t max_bytes) {
    platform::DownloadLimits l;
    l.connect_timeout_ms = connect_ms;
    l.total_timeout_ms = total_ms;
    l.max_bytes = max_bytes;
    platform::set_download_limits(l);
  }
  ~ScopedLimits() { platform::set_download_limits(platform::DownloadLimits{}); }
};

// Each URL names the answer it gets (the grammar in tests/support/http_server.h); a fresh
// token at the end of the URLs that take one keeps the system from answering from its cache.
class Downloads : public testing::Test {
 protected:
  void SetUp() override { platform::save_text_line(path_, "older"); }
  void TearDown() override { platform::delete_file(path_); }

  static std::string b() { return fresh_url("/echo/198.51.100.23/"); }
  static std::string silent() { return fresh_url("/silent/"); }
  // Headers announcing more than the start of the echo page that follows, then silence.
  static std::string stall() { return fresh_url("/stall/"); }
  static std::string big() { return fresh_url("/stream/102400/"); }  // 100 KiB
  // Streamed, so that the URL stays short: Wine's cache refuses a very long one.
  static std::string fits() { return fresh_url("/stream/4096/"); }
  // N redirects, each to the next, then the echo page showing 192.0.2.55.
  static std::string hops(int n) {
    return fresh_url("/redirect/" + std::to_string(n) + "/echo/192.0.2.55/");
  }
  static std::string to(const std::string& location) {
    return server_url("/location/" + percent_encode(location));
  }

  const std::string path_ = platform::temp_directory() + "addrova_download_limits.txt";
};

// ---- time and size ---------------------------------------------------------------------

TEST_F(Downloads, SilentEndpointAGivesWayToBSoonAfterTheConnectLimit) {
  ScopedLimits limits(1500, 20000, 64 * 1024);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(unit1::RetrievePublicAddress(silent(), b()), "198.51.100.23");
  const double seconds = seconds_since(start);
  EXPECT_GE(seconds, 1.4);
  EXPECT_LT(seconds, 3.5);
}

TEST_F(Downloads, BodyThatStallsEndsAtTheTotalLimitAndKeepsTheOlderFile) {
  ScopedLimits limits(1000, 2500, 64 * 1024);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(platform::download_to_file(stall(), path_));
  const double seconds = seconds_since(start);
  EXPECT_GE(seconds, 2.4);
  EXPECT_LT(seconds, 4.5);
  EXPECT_EQ(read_all(path_), "older\r\n");
}

TEST_F(Downloads, BodyBeyondTheSizeLimitFailsAndKeepsTheOlderFile) {
  ScopedLimits limits(5000, 10000, 4096);
  EXPECT_FALSE(platform::download_to_file(big(), path_));
  EXPECT_EQ(read_all(path_), "older\r\n");
  ASSERT_TRUE(platform::download_to_file(fits(), path_));
  const std::string got = read_all(path_);
  EXPECT_EQ(got.size(), 4096u);
  EXPECT_EQ(got.substr(0, 6), "<html>");
}

TEST_F(Downloads, NoPartFilesAreLeftBeside) {
  ScopedLimits limits(1000, 2000, 4096);
  platform::download_to_file(big(), path_);
  platform::download_to_file(silent(), path_);
  platform::download_to_file(b(), path_);
  WIN32_FIND_DATAW found;
  const std::wstring pattern = L"adr*.tmp";
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  const HANDLE h = FindFirstFileW((std::wstring(dir) + pattern).c_str(), &found);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE) << "left: " << (h != INVALID_HANDLE_VALUE);
  if (h != INVALID_HANDLE_VALUE) FindClose(h);
}

// The files under the system's download cache whose names start with `stem`, with sizes.
std::vector<std::pair<std::wstring, unsigned long long>> cache_files(const std::wstring& stem,
                                                                     std::wstring dir = {}) {
  if (dir.empty()) {
    wchar_t root[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_INTERNET_CACHE, nullptr, 0, root))) return {};
    dir = root;
  }
  std::vector<std::pair<std::wstring, unsigned long long>> found;
  WIN32_FIND_DATAW f;
  const HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &f);
  if (h == INVALID_HANDLE_VALUE) return found;
  do {
    const std::wstring name = f.cFileName;
    if (name == L"." || name == L"..") continue;
    if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      for (auto& inner : cache_files(stem, dir + L"\\" + name)) found.push_back(inner);
    } else if (name.rfind(stem, 0) == 0) {
      found.emplace_back(dir + L"\\" + name,
                         (static_cast<unsigned long long>(f.nFileSizeHigh) << 32) | f.nFileSizeLow);
    }
  } while (FindNextFileW(h, &f));
  FindClose(h);
  return found;
}

// A 4 MiB reply, taken whole under a larger cap or cut at the default one, leaves no copy
// in the system's download cache.
TEST_F(Downloads, RepliesLeaveNoCopyInTheDownloadCache) {
  for (const std::size_t cap : {std::size_t{8} << 20, platform::DownloadLimits{}.max_bytes}) {
    ScopedLimits limits(5000, 20000, cap);
    const std::string url = fresh_url("/garbage/4194304/");
    EXPECT_EQ(platform::download_to_file(url, path_), cap > (4u << 20)) << url;
    const std::string token = url.substr(url.rfind('/') + 1);
    for (const auto& [file, size] : cache_files(std::wstring(token.begin(), token.end())))
      ADD_FAILURE() << "left in the cache: " << std::string(file.begin(), file.end()) << ", "
                    << size << " bytes";
  }
}

// With the limits the program runs with: the figure behind the limit's promise.
TEST_F(Downloads, SilentEndpointAWithTheDefaultLimits) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(unit1::RetrievePublicAddress(silent(), b()), "198.51.100.23");
  const double seconds = seconds_since(start);
  std::printf("B answered %.2f s after the lookup began, A silent\n", seconds);
  EXPECT_GE(seconds, 9.9);
  EXPECT_LT(seconds, 12.0);
}

// ---- redirects -------------------------------------------------------------------------

// The same server under another name: another origin, also on the loopback address.
TEST_F(Downloads, RedirectFromLoopbackToAnotherLoopbackOriginIsFollowed) {
  std::string other = fresh_url("/echo/192.0.2.9/");
  other.replace(other.find("127.0.0.1"), 9, "localhost");
  ASSERT_TRUE(platform::download_to_file(to(other), path_));
  EXPECT_EQ(read_all(path_), echo_page("192.0.2.9"));
}

// The sixth Location is never asked for: the binding does not follow a redirect before
// the download has checked it.
TEST_F(Downloads, FiveRedirectsAreFollowedButNotSix) {
  ASSERT_TRUE(platform::download_to_file(hops(5), path_));
  EXPECT_EQ(read_all(path_), echo_page("192.0.2.55"));
  platform::save_text_line(path_, "older");
  std::string six = hops(6);
  EXPECT_FALSE(platform::download_to_file(six, path_));
  EXPECT_EQ(read_all(path_), "older\r\n");
  EXPECT_EQ(wintest::requests_for(six.replace(six.find("/redirect/6/"), 12, "/redirect/1/")), 1);
  EXPECT_EQ(wintest::requests_for(six.replace(six.find("/redirect/1/"), 12, "/redirect/0/")), 0);
  EXPECT_EQ(unit1::RetrievePublicAddress(hops(6), b()), "198.51.100.23");
}

TEST_F(Downloads, RedirectToAnotherSchemeIsRefused) {
  EXPECT_FALSE(platform::download_to_file(to("file:///C:/windows/win.ini"), path_));
  EXPECT_FALSE(platform::download_to_file(to("ftp://127.0.0.1/ip.txt"), path_));
  EXPECT_EQ(read_all(path_), "older\r\n");
  EXPECT_EQ(unit1::RetrievePublicAddress(to("file:///C:/windows/win.ini"), b()), "198.51.100.23");
}

}  // namespace
