// Test entry for the suites that need a display.
#include "gui_fixture.h"

bool g_have_display = false;

// GTK and fontconfig keep caches for the life of the process, which LeakSanitizer would
// report at exit; the program's own leaks are checked by the suites without a display.
extern "C" const char* __asan_default_options() {
  return "detect_leaks=0";
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("XDG_RUNTIME_DIR", test_home().c_str(), 1);
  setenv("XDG_CONFIG_HOME", (test_home() / "config").c_str(), 1);
  setenv("XDG_DATA_HOME", (test_home() / "data").c_str(), 1);
  // No notification of a test reaches the desktop's service; the tests that look at them
  // start a bus of their own (fake_notifications.h).
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (test_home() / "no-bus").string()).c_str(), 1);
  g_have_display = std::getenv("DISPLAY") && gtk_init_check(&argc, &argv);
  if (g_have_display) platform::init(argc, argv);
  const char* ci = std::getenv("CI");
  if (!g_have_display && ci && std::string(ci) == "true") {
    fprintf(stderr, "no display under CI\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}
