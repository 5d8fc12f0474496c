// Shared by the tests that need a display: pumping the loop, answering message boxes,
// and a main window and options dialog wired up as at start-up.
#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "Option/Option.h"
#include "Unit1/Unit1.h"
#include "Unit1/retrieval.h"
#include "http_server.h"
#include "logic/texts.h"
#include "platform/gtk/gtk_impl.h"

namespace fs = std::filesystem;

extern bool g_have_display;

// A private home for the test process: XDG_RUNTIME_DIR, XDG_CONFIG_HOME and XDG_DATA_HOME
// point into it from before the toolkit starts, since GLib reads them only once.
inline fs::path test_home() {
  return fs::temp_directory_path() / ("addrova-gui-" + std::to_string(getpid()));
}

inline bool pump_until(const std::function<bool()>& done, int timeout_ms = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    g_usleep(2000);
  }
  return true;
}

inline void pump_for(int ms) {
  pump_until([] { return false; }, ms);
}

inline std::string read_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Message boxes are answered as soon as they show; their texts are kept in order.
class BoxCatcher {
 public:
  BoxCatcher() { source_ = g_timeout_add(10, &BoxCatcher::scan, this); }
  ~BoxCatcher() { g_source_remove(source_); }
  std::vector<std::string> texts;

 private:
  static gboolean scan(gpointer self) {
    GList* all = gtk_window_list_toplevels();
    for (GList* l = all; l; l = l->next) {
      if (!GTK_IS_MESSAGE_DIALOG(l->data) || !gtk_widget_get_visible(GTK_WIDGET(l->data))) continue;
      gchar* text = nullptr;
      g_object_get(l->data, "text", &text, nullptr);
      static_cast<BoxCatcher*>(self)->texts.push_back(text ? text : "");
      g_free(text);
      gtk_dialog_response(GTK_DIALOG(l->data), GTK_RESPONSE_OK);
    }
    g_list_free(all);
    return G_SOURCE_CONTINUE;
  }
  guint source_;
};

class Gui : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_have_display) GTEST_SKIP() << "needs a display";
    dir_ = test_home();
    fs::create_directories(dir_);
    server_ = std::make_unique<test::HttpServer>(test::echo());
    point_at(server_->url("/Current%20IP%20Check.htm"), server_->url("/ip.php"));
    main_ = std::make_unique<TMainForm>();
    MainForm = main_.get();
    options_ = std::make_unique<TFormOption>();
    FormOption = options_.get();
    platform::set_idle_hook(nullptr);
  }

  void TearDown() override {
    if (!main_) return;
    // Workers hold the main window: let every one of them finish before it goes.
    pump_until([&] { return main_->edtIP.text() != shared::kBusyText; });
    pump_for(100);
    FormOption = nullptr;
    MainForm = nullptr;
    options_.reset();
    main_.reset();
    server_.reset();
    fs::remove_all(dir_);
  }

  static void point_at(const std::string& a, const std::string& b) {
    unit1::SetLookupEndpoints({a, b});
  }

  // Clicks the button and waits for the lookup's text to replace the busy text.
  std::string lookup() {
    main_->Button1.click();
    EXPECT_EQ(main_->edtIP.text(), shared::kBusyText);
    EXPECT_TRUE(pump_until([&] { return main_->edtIP.text() != shared::kBusyText; }));
    pump_for(20);
    return main_->edtIP.text();
  }

  // A lookup as the refresh timer starts it, on the tick that ends its countdown.
  std::string automatic_lookup() {
    main_->tmExecTag = 0;
    main_->tmExecTimer();
    EXPECT_TRUE(pump_until([&] { return main_->edtIP.text() != shared::kBusyText; }));
    pump_for(20);
    return main_->edtIP.text();
  }

  void enable_saving(const std::string& path) {
    options_->cbFileSave.set_checked(true);
    options_->edtFileName.set_text(path);
  }

  fs::path dir_;
  std::unique_ptr<test::HttpServer> server_;
  std::unique_ptr<TMainForm> main_;
  std::unique_ptr<TFormOption> options_;
};
