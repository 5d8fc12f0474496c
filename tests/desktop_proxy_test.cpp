// The desktop's proxy setting carries a download: GNOME's org.gnome.system.proxy, kept here
// in a settings back end in memory, with a GNOME session named so that GIO takes the
// desktop's resolver. A program of its own, since GIO chooses the resolver and the settings
// back end once per process.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "http_server.h"
#include "percent_encode.h"
#include "platform/platform.h"

namespace {

// Lets the desktop's resolver take in the changed settings, as the program's loop would.
void settle() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

std::string read_back(const std::string& path) {
  std::string bytes;
  return platform::read_file_prefix(path, 1 << 16, bytes) ? bytes : "(missing)";
}

TEST(DesktopProxy, TheDesktopsManualProxyCarriesTheDownloadUntilSwitchedOff) {
  test::HttpServer proxy(test::by_path());
  test::HttpServer refusing(test::echo(),
                            test::HttpServer::Options{.listen = test::HttpServer::Listen::Refuse});
  GSettings* settings = g_settings_new("org.gnome.system.proxy");
  GSettings* http = g_settings_new("org.gnome.system.proxy.http");
  const char* const no_hosts[] = {nullptr};
  g_settings_set_strv(settings, "ignore-hosts", no_hosts);
  g_settings_set_string(http, "host", "127.0.0.1");
  g_settings_set_int(http, "port", proxy.port());
  g_settings_set_string(settings, "mode", "manual");
  settle();

  const std::string file = platform::temp_directory() + "addrova_desktop_proxy.txt";
  const std::string body = "192.0.2.91\r\n";
  const std::string url = refusing.url("/body/" + test::percent_encode(body));
  ASSERT_TRUE(platform::download_to_file(url, file));
  EXPECT_EQ(read_back(file), body);
  EXPECT_EQ(proxy.paths(), std::vector<std::string>{url});  // in absolute form
  EXPECT_STREQ(G_OBJECT_TYPE_NAME(g_proxy_resolver_get_default()), "GProxyResolverGnome");

  // Switched off on the desktop: the same download goes straight to the port, refused.
  g_settings_set_string(settings, "mode", "none");
  settle();
  EXPECT_FALSE(platform::download_to_file(url + "?direct", file));
  EXPECT_EQ(proxy.requests(), 1u);
  platform::delete_file(file);
  g_object_unref(http);
  g_object_unref(settings);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  setenv("GSETTINGS_BACKEND", "memory", 1);
  setenv("XDG_CURRENT_DESKTOP", "GNOME", 1);
  for (const char* name : {"http_proxy", "https_proxy", "no_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                           "NO_PROXY", "GIO_USE_PROXY_RESOLVER"})
    unsetenv(name);
  return RUN_ALL_TESTS();
}
