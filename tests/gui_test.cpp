// The main window, its fetch request and timer, and the lookup worker.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "fake_notifications.h"
#include "gui_fixture.h"

namespace {

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

  // A directory nobody may create files in, root included.
  boxes.texts.clear();
  enable_saving("/sys/addrova-out.txt");
  EXPECT_EQ(lookup(), "127.0.0.1");
  ASSERT_TRUE(pump_until([&] { return !boxes.texts.empty(); }));
  EXPECT_EQ(boxes.texts[0].rfind("ファイル \"/sys/addrova-out.txt\" を作成できません。", 0), 0u);
  EXPECT_EQ(platform::clipboard_text(), "old");

  // A pipe nobody reads: the UI thread must not wait for a reader.
  boxes.texts.clear();
  const fs::path fifo = dir_ / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  enable_saving(fifo);
  EXPECT_EQ(lookup(), "127.0.0.1");
  ASSERT_TRUE(pump_until([&] { return !boxes.texts.empty(); }));
  EXPECT_EQ(boxes.texts[0].rfind("ファイル \"" + fifo.string() + "\" を作成できません。", 0), 0u);
  EXPECT_EQ(platform::clipboard_text(), "old");

  boxes.texts.clear();
  enable_saving("/dev/full");
  EXPECT_EQ(lookup(), "127.0.0.1");
  ASSERT_TRUE(pump_until([&] { return !boxes.texts.empty(); }));
  EXPECT_NE(boxes.texts[0].find("/dev/full"), std::string::npos);
  EXPECT_EQ(platform::clipboard_text(), "old");
}

int open_message_boxes() {
  int n = 0;
  GList* all = gtk_window_list_toplevels();
  for (GList* l = all; l; l = l->next)
    if (GTK_IS_MESSAGE_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data))) ++n;
  g_list_free(all);
  return n;
}

long resident_kib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// Refresh on every tick with a save file that can never be written: every lookup fails
// to save. The boxes are left open for 20 seconds, as by a user who is away; lookups go
// on meanwhile, but never open a second box. Once the box is answered, the next failure
// shows one again.
TEST_F(Gui, RefreshWithAFailingSaveKeepsOneBoxOpen) {
  struct Watch {
    test::HttpServer* server;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    int most_boxes = 0;
    int boxes_at_end = 0;
    long rss_at_start = resident_kib(), rss_at_end = 0;
    std::size_t requests_at_first_box = 0, requests_at_end = 0;
    bool answered = false, shown_again = false, done = false;
  } watch{server_.get()};
  enable_saving("/dev/full");
  options_->edtSec.set_text("0");
  main_->ArmTimer();
  // Looks at the boxes from inside whichever loop is running, the boxes' own included.
  const guint source = g_timeout_add(
      50,
      +[](gpointer data) -> gboolean {
        auto& w = *static_cast<Watch*>(data);
        if (w.done) return G_SOURCE_REMOVE;
        const int boxes = open_message_boxes();
        w.most_boxes = std::max(w.most_boxes, boxes);
        if (boxes > 0 && w.requests_at_first_box == 0)
          w.requests_at_first_box = w.server->requests();
        if (!w.answered && std::chrono::steady_clock::now() - w.start > std::chrono::seconds(20)) {
          w.boxes_at_end = boxes;
          w.rss_at_end = resident_kib();
          w.requests_at_end = w.server->requests();
          GList* all = gtk_window_list_toplevels();
          for (GList* l = all; l; l = l->next)
            if (GTK_IS_MESSAGE_DIALOG(l->data))
              gtk_dialog_response(GTK_DIALOG(l->data), GTK_RESPONSE_OK);
          g_list_free(all);
          w.answered = true;
        } else if (w.answered && boxes > 0) {
          w.shown_again = true;
          MainForm->DisarmTimer();
          GList* all = gtk_window_list_toplevels();
          for (GList* l = all; l; l = l->next)
            if (GTK_IS_MESSAGE_DIALOG(l->data))
              gtk_dialog_response(GTK_DIALOG(l->data), GTK_RESPONSE_OK);
          g_list_free(all);
          w.done = true;
        }
        return G_SOURCE_CONTINUE;
      },
      &watch);
  const bool finished = pump_until([&] { return watch.done; }, 40000);
  if (!finished) g_source_remove(source);
  main_->DisarmTimer();
  {
    // A lookup still under way fails to save as well; its box is answered.
    BoxCatcher late;
    pump_until([&] { return main_->edtIP.text() != shared::kBusyText; });
    pump_for(100);
  }
  ASSERT_TRUE(finished);
  std::printf("after 20 s: %d box(es) open, at most %d; %zu lookups; RSS %ld -> %ld KiB\n",
              watch.boxes_at_end, watch.most_boxes, watch.requests_at_end, watch.rss_at_start,
              watch.rss_at_end);
  EXPECT_EQ(watch.boxes_at_end, 1);
  EXPECT_EQ(watch.most_boxes, 1);
  // About one lookup a second, box or no box.
  EXPECT_GE(watch.requests_at_end, watch.requests_at_first_box + 15);
  EXPECT_TRUE(watch.shown_again);
  EXPECT_EQ(main_->edtIP.text(), "127.0.0.1");
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

// A lookup the refresh timer starts keeps what the user copied meanwhile unless it found
// another address, and never copies its error text; a press of the button always copies.
TEST_F(Gui, AutomaticLookupsKeepTheUsersClipboardUntilTheAddressChanges) {
  const auto automatic = [&] { return automatic_lookup(); };
  test::HttpServer refused(test::echo(), {"127.0.0.1", 0, test::HttpServer::Listen::Refuse});
  EXPECT_EQ(lookup(), "127.0.0.1");
  platform::clipboard_set_text("user text");
  EXPECT_EQ(automatic(), "127.0.0.1");
  EXPECT_EQ(platform::clipboard_text(), "user text") << "the same address again";

  server_->set_handler(test::fixed(200, test::echo_page("198.51.100.7")));
  EXPECT_EQ(automatic(), "198.51.100.7");
  EXPECT_EQ(platform::clipboard_text(), "198.51.100.7") << "a new address";

  platform::clipboard_set_text("user text");
  point_at(refused.url("/a"), refused.url("/b"));
  EXPECT_EQ(automatic(), shared::kErrorText);
  EXPECT_EQ(platform::clipboard_text(), "user text") << "an error";
  point_at(server_->url("/a"), server_->url("/b"));
  EXPECT_EQ(automatic(), "198.51.100.7");
  EXPECT_EQ(platform::clipboard_text(), "user text") << "back after an error, unchanged";

  EXPECT_EQ(lookup(), "198.51.100.7");
  EXPECT_EQ(platform::clipboard_text(), "198.51.100.7") << "a press of the button";
  point_at(refused.url("/a"), refused.url("/b"));
  EXPECT_EQ(lookup(), shared::kErrorText);
  EXPECT_EQ(platform::clipboard_text(), shared::kErrorText) << "a press of the button";
}

void serve_address(test::HttpServer& server, const std::string& address) {
  server.set_handler(test::fixed(200, test::echo_page(address)));
}

// Through a stand-in for the desktop's notification service on a private bus: each change
// an automatic lookup finds is told once, "old → new", in place of the notification before;
// the first address, the same one again, a press of the button and an unticked box tell
// nothing.
TEST_F(Gui, AChangedAddressIsNotifiedOnceInPlaceOfTheNotificationBefore) {
  test::FakeNotifications& service = test::FakeNotifications::get();
  ASSERT_EQ(service.why_not(), "");
  service.clear();
  serve_address(*server_, "198.51.100.7");
  EXPECT_EQ(automatic_lookup(), "198.51.100.7");
  EXPECT_EQ(automatic_lookup(), "198.51.100.7");
  serve_address(*server_, "203.0.113.5");
  EXPECT_EQ(automatic_lookup(), "203.0.113.5");
  ASSERT_TRUE(pump_until([&] { return !service.calls().empty() && service.calls()[0].id; }));
  serve_address(*server_, "192.0.2.9");
  EXPECT_EQ(lookup(), "192.0.2.9");
  serve_address(*server_, "198.51.100.7");
  EXPECT_EQ(automatic_lookup(), "198.51.100.7");
  ASSERT_TRUE(pump_until([&] { return service.calls().size() >= 2; }));
  options_->cbNotify.set_checked(false);
  serve_address(*server_, "203.0.113.5");
  EXPECT_EQ(automatic_lookup(), "203.0.113.5");
  pump_for(300);

  const std::vector<test::FakeNotifications::Call> calls = service.calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].summary, "グローバルＩＰが変わりました");
  EXPECT_EQ(calls[0].body, "198.51.100.7 → 203.0.113.5");
  EXPECT_EQ(calls[0].replaces_id, 0u);
  EXPECT_EQ(calls[1].body, "192.0.2.9 → 198.51.100.7");
  EXPECT_EQ(calls[1].replaces_id, calls[0].id) << "a second notification beside the first";
  EXPECT_EQ(calls[0].app_name, platform::application_title());
  EXPECT_TRUE(calls[0].app_icon == "addrova" || calls[0].app_icon.ends_with("/addrova.png"))
      << calls[0].app_icon;
}

// A service that never answers, then none at all: the lookups end as quickly as ever, and
// nothing is shown in place of the notification.
TEST_F(Gui, ANotificationServiceThatIsSilentOrMissingDelaysNothing) {
  test::FakeNotifications& service = test::FakeNotifications::get();
  ASSERT_EQ(service.why_not(), "");
  service.clear();
  service.set_answering(false);
  BoxCatcher boxes;
  std::vector<double> seconds;
  const auto timed = [&](const std::string& address) {
    serve_address(*server_, address);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(automatic_lookup(), address);
    seconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  };
  timed("198.51.100.7");
  timed("203.0.113.5");
  ASSERT_TRUE(pump_until([&] { return service.calls().size() == 1; }));
  timed("198.51.100.7");  // while the first call waits for its answer
  service.release_name();
  service.set_answering(true);
  timed("203.0.113.5");
  timed("198.51.100.7");
  pump_for(300);
  for (double s : seconds) EXPECT_LT(s, 1.0);
  EXPECT_EQ(boxes.texts, std::vector<std::string>{});
  EXPECT_EQ(service.calls().size(), 1u) << "the name was released, the service gone";
}

// A burst of network changes, as GIO reports them, while refresh is on at 600 s: one
// automatic lookup (it keeps the user's clipboard) 2 s after the last change, and the
// countdown starts again from it. A report that changed nothing, or any with refresh off,
// makes none.
TEST_F(Gui, ANetworkChangeMakesOneAutomaticLookupOnceItSettled) {
  EXPECT_EQ(lookup(), "127.0.0.1");
  platform::clipboard_set_text("user text");
  const std::size_t before = server_->requests();
  options_->edtSec.set_text("600");
  main_->ArmTimer();
  main_->tmExecTag = 5;
  // Each report a change of the IPv4 side, unless it changed nothing.
  int changes = 0;
  struct Restore {
    decltype(platform::gtk::network_state) saved = platform::gtk::network_state;
    ~Restore() { platform::gtk::network_state = saved; }
  } restore;
  platform::gtk::network_state = [&changes] { return std::to_string(changes); };
  const auto change = [&changes](bool real = true) {
    changes += real;
    g_signal_emit_by_name(g_network_monitor_get_default(), "network-changed", TRUE);
  };
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 3; ++i) {
    change();
    pump_for(400);
  }
  change(false);
  EXPECT_EQ(server_->requests(), before) << "asked before the burst settled";
  ASSERT_TRUE(pump_until([&] { return server_->requests() > before; }));
  const double settled =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GT(settled, 0.8 + 1.9);
  EXPECT_LT(settled, 0.8 + 2.5);
  EXPECT_EQ(main_->tmExecTag, 600);
  pump_until([&] { return main_->edtIP.text() != shared::kBusyText; });
  pump_for(2000);
  EXPECT_EQ(server_->requests(), before + 1);
  EXPECT_EQ(platform::clipboard_text(), "user text");

  change(false);
  pump_for(2500);
  EXPECT_EQ(server_->requests(), before + 1) << "a report that changed nothing";
  main_->DisarmTimer();
  change();
  pump_for(2500);
  EXPECT_EQ(server_->requests(), before + 1) << "a lookup with refresh off";
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
