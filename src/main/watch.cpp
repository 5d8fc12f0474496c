#include "main/watch.h"

#include <chrono>
#include <ctime>
#include <string>
#include <thread>

#include "Unit1/retrieval.h"
#include "logic/address_watch.h"
#include "platform/platform.h"

namespace watch {

namespace {

// The local time in ISO 8601 with seconds and the offset from UTC: 2026-12-09T16:04:05+09:00.
std::string LocalTime() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  if (!local) return "";
  char when[32] = {}, zone[8] = {};
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", local);
  // +0900 as +09:00
  if (std::strftime(zone, sizeof zone, "%z", local) != 5) return when;
  return std::string(when) + std::string(zone, 3) + ':' + (zone + 3);
}

class Watcher {
 public:
  Watcher(int seconds, std::FILE* out)
      : out_(out),
        interval_(seconds * 1000, [this] { Lookup(); }),
        settle_(100, [this] { SettleTick(); }) {}
  ~Watcher() { platform::on_network_change(nullptr); }

  void Start() {
    platform::on_network_change([this] {
      network_changes_.event(std::chrono::steady_clock::now());
      settle_.set_enabled(true);
    });
    Lookup();
  }

 private:
  // One lookup at a time, on a worker of its own; the next timed one comes a whole
  // interval after this request.
  void Lookup() {
    interval_.set_enabled(false);
    interval_.set_enabled(true);
    if (busy_) return;
    busy_ = true;
    std::thread([this] {
      // Automatic, as the refresh timer's: an endpoint that asked to wait is left alone.
      const std::string text = unit1::RetrievePublicAddress(/*automatic=*/true);
      platform::post_to_ui([this, text] { Done(text); });
    }).detach();
  }

  void SettleTick() {
    if (!network_changes_.settled(std::chrono::steady_clock::now())) return;
    settle_.set_enabled(false);
    // A lookup that is running may have started before the change: another one follows it.
    if (busy_)
      again_ = true;
    else
      Lookup();
  }

  void Done(const std::string& text) {
    busy_ = false;
    if (!printed_ || text != last_) {
      printed_ = true;
      last_ = text;
      const std::string line = LocalTime() + '\t' + text + '\n';
      if (std::fwrite(line.data(), 1, line.size(), out_) != line.size() || std::fflush(out_) != 0)
        return platform::quit_terminal_loop();
    }
    if (again_) {
      again_ = false;
      Lookup();
    }
  }

  std::FILE* const out_;
  platform::Timer interval_;
  // Runs only while changes of the network are settling.
  platform::Timer settle_;
  shared::Settling network_changes_{std::chrono::seconds(2)};
  bool busy_ = false;
  bool again_ = false;
  bool printed_ = false;
  std::string last_;
};

}  // namespace

int Run(int seconds, std::FILE* out) {
  const platform::SocketSession sockets;
  Watcher watcher(seconds, out);
  // Quit: a line could not be written.
  return platform::run_terminal_loop([&watcher] { watcher.Start(); }) ==
                 platform::TerminalEnd::Signalled
             ? 0
             : 1;
}

}  // namespace watch
