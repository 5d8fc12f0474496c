// The windows and the lookup worker on a real display (Xvfb in the test command).
#include <gtk/gtk.h>
#include <gtest/gtest.h>
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
#include "platform/gtk/gtk_impl.h"
#include "shared/texts.h"

namespace fs = std::filesystem;

namespace {

bool g_have_display = false;

bool pump_until(const std::function<bool()>& done, int timeout_ms = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    g_usleep(2000);
  }
  return true;
}

void pump_for(int ms) {
  pump_until([] { return false; }, ms);
}

std::string read_bytes(const fs::path& p) {
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
    dir_ = fs::temp_directory_path() / ("addrova-gui-" + std::to_string(getpid()));
    fs::create_directories(dir_);
    setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
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
    unit1::LookupEndpoints() = {a, b};
  }

  // Clicks the button and waits for the lookup's text to replace the busy text.
  std::string lookup() {
    main_->Button1.click();
    EXPECT_EQ(main_->edtIP.text(), shared::kBusyText);
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

std::string expected_title() {
  platform::SocketSession s;
  std::string host, local;
  if (!s.host_name(host) || !s.first_ipv4(host, local)) return "Addrova";
  return "Addrova : " + host + " ( " + local + " )";
}

TEST_F(Gui, LookupPublishesTitleBoxClipboardAndSaveFile) {
  const fs::path out = dir_ / "out.txt";
  enable_saving(out);
  EXPECT_EQ(lookup(), "127.0.0.1");
  EXPECT_EQ(main_->Window().title(), expected_title());
  EXPECT_EQ(platform::clipboard_text(), "127.0.0.1");
  EXPECT_EQ(read_bytes(out), "127.0.0.1\r\n");
  EXPECT_EQ(server_->requests_for("/Current%20IP%20Check.htm"), 1u);
}

TEST_F(Gui, SavingOnWithAnEmptyPathStillCopies) {
  enable_saving("");
  platform::clipboard_set_text("old");
  EXPECT_EQ(lookup(), "127.0.0.1");
  EXPECT_EQ(platform::clipboard_text(), "127.0.0.1");
}

TEST_F(Gui, FailedLookupSavesTheErrorTextAndCanBeRetried) {
  const fs::path out = dir_ / "out.txt";
  enable_saving(out);
  test::HttpServer refused(test::echo(), {"127.0.0.1", 0, test::HttpServer::Listen::Refuse});
  point_at(refused.url("/a"), refused.url("/b"));
  EXPECT_EQ(lookup(), shared::kErrorText);
  EXPECT_EQ(read_bytes(out), std::string(shared::kErrorText) + "\r\n");
  EXPECT_EQ(platform::clipboard_text(), shared::kErrorText);
  // The error text does not refuse the next request.
  point_at(server_->url("/a"), server_->url("/b"));
  EXPECT_EQ(lookup(), "127.0.0.1");
}

TEST_F(Gui, SaveFailureShowsTheMessageAndLeavesTheClipboard) {
  BoxCatcher boxes;
  platform::clipboard_set_text("old");
  enable_saving(dir_.string());  // a directory cannot be created as a file
  EXPECT_EQ(lookup(), "127.0.0.1");
  ASSERT_TRUE(pump_until([&] { return !boxes.texts.empty(); }));
  EXPECT_EQ(boxes.texts[0].rfind("ファイル \"" + dir_.string() + "\" を作成できません。", 0), 0u)
      << boxes.texts[0];
  EXPECT_EQ(platform::clipboard_text(), "old");

  boxes.texts.clear();
  enable_saving("/dev/full");
  EXPECT_EQ(lookup(), "127.0.0.1");
  ASSERT_TRUE(pump_until([&] { return !boxes.texts.empty(); }));
  EXPECT_NE(boxes.texts[0].find("/dev/full"), std::string::npos);
  EXPECT_EQ(platform::clipboard_text(), "old");
}

TEST_F(Gui, RequestsAreRefusedWhileBusy) {
  main_->edtIP.set_text(shared::kBusyText);
  main_->Button1.click();
  pump_for(200);
  EXPECT_EQ(server_->requests(), 0u);
  // Text that merely contains the busy word does not refuse.
  main_->edtIP.set_text("取得中");
  EXPECT_EQ(lookup(), "127.0.0.1");
}

TEST_F(Gui, TwoWorkersAtOnceAfterTheBoxWasClearedByHand) {
  server_->set_handler(test::counting_echo());
  main_->Button1.click();
  main_->edtIP.set_text("");
  main_->Button1.click();
  ASSERT_TRUE(pump_until([&] { return server_->requests() == 2; }));
  ASSERT_TRUE(pump_until([&] { return main_->edtIP.text() != shared::kBusyText; }));
  pump_for(100);
  const std::string text = main_->edtIP.text();
  EXPECT_TRUE(text == "10.0.0.1" || text == "10.0.0.2") << text;
  EXPECT_EQ(platform::clipboard_text(), text);
}

// Counts the requests made over a number of timer ticks.
std::vector<int> request_ticks(TMainForm& form, int ticks) {
  std::vector<int> at;
  for (int tick = 1; tick <= ticks; ++tick) {
    form.edtIP.set_text("idle");
    form.tmExecTimer();
    if (form.edtIP.text() == shared::kBusyText) at.push_back(tick);
  }
  return at;
}

TEST_F(Gui, TimerCountdownCadence) {
  options_->edtSec.set_text("5");
  main_->ArmTimer();
  EXPECT_TRUE(main_->tmExec.enabled());
  EXPECT_EQ(request_ticks(*main_, 18), (std::vector<int>{6, 12, 18}));

  options_->edtSec.set_text("0");
  main_->ArmTimer();
  EXPECT_EQ(request_ticks(*main_, 3), (std::vector<int>{1, 2, 3}));

  options_->edtSec.set_text("-2");
  main_->ArmTimer();
  EXPECT_TRUE(request_ticks(*main_, 40).empty());

  // Not an integer: the interval is 5.
  options_->edtSec.set_text("");
  main_->ArmTimer();
  EXPECT_EQ(request_ticks(*main_, 6), (std::vector<int>{6}));

  main_->DisarmTimer();
  EXPECT_FALSE(main_->tmExec.enabled());
  pump_until([&] { return server_->requests() >= 7; });
}

TEST_F(Gui, WhileTheDialogShowsATickRefusesButReloads) {
  options_->edtSec.set_text("0");
  main_->ArmTimer();
  std::vector<int> while_open;
  g_idle_add(
      [](gpointer data) {
        auto* self = static_cast<std::pair<Gui*, std::vector<int>*>*>(data);
        TMainForm& form = *MainForm;
        form.Button1.click();
        *self->second = request_ticks(form, 3);
        FormOption->btnCloseClick();
        return G_SOURCE_REMOVE;
      },
      new std::pair<Gui*, std::vector<int>*>(this, &while_open));
  main_->btnOptionClick();
  EXPECT_TRUE(while_open.empty());
  EXPECT_EQ(main_->tmExecTag, 0);
  EXPECT_EQ(server_->requests(), 0u);
  main_->DisarmTimer();
}

TEST_F(Gui, ShowPlacesTheWindowAtTheBottomRight) {
  main_->FormShow();
  gtk_widget_show_all(main_->Window().impl().window);
  ASSERT_TRUE(pump_until([&] { return gtk_widget_get_mapped(main_->Window().impl().window); }));
  pump_for(200);
  platform::Rect area;
  int width = 0, height = 0;
  ASSERT_TRUE(platform::work_area(area));
  ASSERT_TRUE(platform::display_mode(width, height));
  const platform::Rect r = main_->Window().outer_rect();
  EXPECT_EQ(r.right, width);
  EXPECT_EQ(r.bottom, area.bottom);
  EXPECT_EQ(r.right - r.left, 402);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  g_have_display = std::getenv("DISPLAY") && gtk_init_check(&argc, &argv);
  if (g_have_display) platform::init(argc, argv);
  const char* ci = std::getenv("CI");
  if (!g_have_display && ci && std::string(ci) == "true") {
    fprintf(stderr, "no display under CI\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}
