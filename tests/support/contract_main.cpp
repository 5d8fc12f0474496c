// Test entry for the contract suite on Linux: starts the test server in the process
// (unless ADDROVA_TEST_SERVER names one already), a refusing port beside it, and the
// toolkit when there is a display.
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "contract/contract.h"
#include "http_server.h"

bool contract::g_have_ui = false;

// GTK and fontconfig keep caches for the life of the process, which LeakSanitizer would
// report at exit; the program's own leaks are checked by the suites without a display.
extern "C" const char* __asan_default_options() {
  return "detect_leaks=0";
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // A private runtime directory, so that the temporary folder is the test's own.
  char runtime[] = "/tmp/addrova-contract-XXXXXX";
  if (!mkdtemp(runtime)) return 1;
  setenv("XDG_RUNTIME_DIR", runtime, 1);
  // and no session bus: the notifications of the tests go nowhere
  setenv("DBUS_SESSION_BUS_ADDRESS", (std::string("unix:path=") + runtime + "/no-bus").c_str(), 1);

  std::unique_ptr<test::HttpServer> server, refusing;
  if (!std::getenv("ADDROVA_TEST_SERVER")) {
    server = std::make_unique<test::HttpServer>(test::by_path());
    setenv("ADDROVA_TEST_SERVER", ("127.0.0.1:" + std::to_string(server->port())).c_str(), 1);
  }
  if (!std::getenv("ADDROVA_TEST_REFUSED")) {
    refusing = std::make_unique<test::HttpServer>(
        test::echo(), test::HttpServer::Options{.listen = test::HttpServer::Listen::Refuse});
    setenv("ADDROVA_TEST_REFUSED", refusing->url("/").c_str(), 1);
  }
  contract::g_have_ui = std::getenv("DISPLAY") != nullptr;
  if (contract::g_have_ui) platform::init(argc, argv);
  const char* ci = std::getenv("CI");
  if (!contract::g_have_ui && ci && std::string(ci) == "true") {
    std::fprintf(stderr, "no display under CI\n");
    return 1;
  }
  const int result = RUN_ALL_TESTS();
  std::filesystem::remove_all(runtime);
  return result;
}
