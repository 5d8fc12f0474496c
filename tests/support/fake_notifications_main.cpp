// fake_notifications LOG: a private session bus with a stand-in for the desktop's
// notification service on it (fake_notifications.h), for the black-box runs. Prints the
// bus's address on a line of its own, then appends each Notify call to LOG as it comes, as
// "<replaces_id>\t<summary>\t<body>\t<app_icon>". Runs until it is ended; the bus ends with it.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "fake_notifications.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fake_notifications LOG\n");
    return 2;
  }
  test::FakeNotifications& service = test::FakeNotifications::get();
  if (!service.why_not().empty()) {
    std::fprintf(stderr, "fake_notifications: %s\n", service.why_not().c_str());
    return 1;
  }
  std::printf("%s\n", std::getenv("DBUS_SESSION_BUS_ADDRESS"));
  std::fflush(stdout);
  for (std::size_t logged = 0;; usleep(20000)) {
    const auto calls = service.calls();
    if (calls.size() == logged) continue;
    FILE* log = std::fopen(argv[1], "a");
    if (!log) return 1;
    for (; logged < calls.size(); ++logged) {
      const auto& c = calls[logged];
      std::fprintf(log, "%u\t%s\t%s\t%s\n", c.replaces_id, c.summary.c_str(), c.body.c_str(),
                   c.app_icon.c_str());
    }
    std::fclose(log);
  }
}
