// A private session bus and a stand-in for the desktop's notification service on it, which
// records every Notify call. Made once per test process (GIO keeps its session bus for the
// life of the process): it starts `dbus-daemon --session --print-address`, points
// DBUS_SESSION_BUS_ADDRESS at it and serves org.freedesktop.Notifications on a thread of
// its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace test {

class FakeNotifications {
 public:
  struct Call {
    std::string app_name, app_icon, summary, body;
    std::uint32_t replaces_id = 0;
    std::uint32_t id = 0;  // the id given back, 0 while unanswered
  };
  // The process's one service; started on the first call.
  static FakeNotifications& get();
  // Empty when the bus and the service run, else why not.
  const std::string& why_not() const { return why_not_; }
  std::vector<Call> calls() const;
  void clear();
  // Unanswered, a call waits until the caller gives up.
  void set_answering(bool on);
  // Gives up the service's name, as where no notification service runs.
  void release_name();

  struct State;

 private:
  FakeNotifications();
  State* state_;
  std::string why_not_;
};

}  // namespace test
