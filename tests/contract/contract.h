// Helpers for the contract tests: the promises of platform.h, checked the same way on
// every back end. Only platform.h, GoogleTest and the standard library are used here.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>

#include "platform/platform.h"
#include "support/percent_encode.h"

namespace contract {

// True when the program has a display (set by the test program's main).
extern bool g_have_ui;

// The test server as "127.0.0.1:PORT", from ADDROVA_TEST_SERVER; empty when unset.
inline std::string server() {
  const char* s = std::getenv("ADDROVA_TEST_SERVER");
  return s ? s : "";
}

// The server's URL for a path of its grammar (see tests/support/http_server.h).
inline std::string url(const std::string& path) {
  return "http://" + server() + path;
}

// A URL on a loopback port where nothing listens, so that connecting is refused.
inline std::string refused_url() {
  const char* s = std::getenv("ADDROVA_TEST_REFUSED");
  return s ? s : "http://127.0.0.1:1/";
}

// Sets an environment variable of this process (empty: removes it) until the object goes,
// then puts back what was there.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
    const char* old = std::getenv(name_.c_str());
    had_ = old != nullptr;
    if (had_) old_ = old;
    set(value);
  }
  ~ScopedEnv() { set(had_ ? old_ : ""); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void set(const std::string& value) {
#ifdef _WIN32
    _putenv_s(name_.c_str(), value.c_str());
#else
    if (value.empty()) {
      unsetenv(name_.c_str());
    } else {
      setenv(name_.c_str(), value.c_str(), 1);
    }
#endif
  }
  std::string name_, old_;
  bool had_ = false;
};

// A text no earlier call of this process and no earlier run gave: some back ends keep a
// download cache keyed by URL, so every download goes to a URL never used before.
inline std::string unique() {
  static std::atomic<unsigned> counter{0};
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(now).count()) + "-" +
         std::to_string(++counter);
}

// The server's path for a 200 answer whose body is exactly `bytes`.
inline std::string body_path(const std::string& bytes) {
  return "/body/" + test::percent_encode(bytes);
}

// A file in the temporary folder, with a name of its own, removed when the test ends.
class TempFile {
 public:
  explicit TempFile(const std::string& stem)
      : path_(platform::temp_directory() + "addrova_contract_" + stem + "_" + unique() + ".txt") {}
  ~TempFile() { platform::delete_file(path_); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A new folder of the test's own in the temporary folder, removed with all it holds when
// the object goes. seal() makes the system take nothing new into it, from root neither,
// while the files already there stay writable; false, with the reason in why_not(), where
// the test cannot do that here. Each system's test programs define it with their own
// means (tests/support/sealed_folder.cpp, tests/win/sealed_folder.cpp).
class SealedFolder {
 public:
  SealedFolder();
  ~SealedFolder();
  SealedFolder(const SealedFolder&) = delete;
  SealedFolder& operator=(const SealedFolder&) = delete;
  std::string path(const std::string& name) const { return platform::path_join(dir_, name); }
  bool seal();
  const std::string& why_not() const { return why_not_; }

 private:
  std::string dir_, why_not_;
  bool sealed_ = false;
};

// The whole file (up to 1 MiB); "(missing)" when it cannot be opened.
inline std::string read_all(const std::string& path) {
  std::string bytes;
  return platform::read_file_prefix(path, 1 << 20, bytes) ? bytes : "(missing)";
}

inline double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs the UI thread's message loop until done() holds or timeout_ms passed; false on
// timeout. The loop is a small dialog's modal loop, ended by a timer that polls done().
inline bool pump_until(const std::function<bool()>& done, int timeout_ms = 5000) {
  if (done()) return true;
  platform::Window loop(platform::Window::Kind::Dialog, "contract", 40, 20);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  bool met = false;
  platform::Timer poll(5, [&] {
    met = done();
    if (met || std::chrono::steady_clock::now() >= end) loop.end_modal();
  });
  poll.set_enabled(true);
  loop.show_modal();
  poll.set_enabled(false);
  return met;
}

inline void pump_for(int ms) {
  pump_until([] { return false; }, ms);
}

// Fixture for the tests that need a display and the UI thread.
class Ui : public testing::Test {
 protected:
  void SetUp() override {
    if (!g_have_ui) GTEST_SKIP() << "needs a display";
  }
};

}  // namespace contract
