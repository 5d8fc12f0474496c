// What runs on the UI thread: the clipboard, the timer, hand-offs from other threads, the
// controls' text, enabled state and check box, and notifications.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "contract.h"

namespace {

using contract::pump_for;
using contract::pump_until;
using ContractClipboard = contract::Ui;
using ContractTimer = contract::Ui;
using ContractPostToUi = contract::Ui;
using ContractControls = contract::Ui;
using ContractNotify = contract::Ui;
using platform::Window;

TEST_F(ContractClipboard, TextReadsBackIncludingJapanese) {
  for (const std::string text : {"203.0.113.7", "取得エラー", "", "127.0.0.1"}) {
    platform::clipboard_set_text(text);
    EXPECT_EQ(platform::clipboard_text(), text);
  }
}

// Ticks come a period apart; enabling the running timer again does not restart its
// period, and a disabled timer is silent.
TEST_F(ContractTimer, TicksASecondApartAndEnablingAgainKeepsThePeriod) {
  std::vector<double> ticks;
  const auto start = std::chrono::steady_clock::now();
  platform::Timer timer(1000, [&] { ticks.push_back(contract::seconds_since(start)); });
  EXPECT_FALSE(timer.enabled());
  pump_for(150);
  EXPECT_TRUE(ticks.empty()) << "ticked while disabled";
  timer.set_enabled(true);
  EXPECT_TRUE(timer.enabled());
  const double enabled_at = contract::seconds_since(start);
  pump_for(500);
  timer.set_enabled(true);
  ASSERT_TRUE(pump_until([&] { return ticks.size() >= 3; }, 5000));
  timer.set_enabled(false);
  EXPECT_FALSE(timer.enabled());
  EXPECT_GT(ticks[0] - enabled_at, 0.85);
  EXPECT_LT(ticks[0] - enabled_at, 1.3) << "the second enabling restarted the period";
  for (std::size_t i = 1; i < ticks.size(); ++i) {
    EXPECT_GT(ticks[i] - ticks[i - 1], 0.85);
    EXPECT_LT(ticks[i] - ticks[i - 1], 1.3);
  }
  const std::size_t stopped_at = ticks.size();
  pump_for(1300);
  EXPECT_EQ(ticks.size(), stopped_at);
}

TEST_F(ContractPostToUi, RunsOnTheUiThreadInPostingOrder) {
  EXPECT_TRUE(platform::on_ui_thread());
  std::vector<int> order;
  bool all_on_ui = true;
  bool other_thread_is_ui = true;
  std::thread worker([&] {
    other_thread_is_ui = platform::on_ui_thread();
    for (int i = 0; i < 50; ++i)
      platform::post_to_ui([&, i] {
        all_on_ui = all_on_ui && platform::on_ui_thread();
        order.push_back(i);
      });
  });
  worker.join();
  EXPECT_FALSE(other_thread_is_ui);
  EXPECT_TRUE(order.empty()) << "ran before the loop did";
  ASSERT_TRUE(pump_until([&] { return order.size() == 50; }));
  std::vector<int> expected;
  for (int i = 0; i < 50; ++i) expected.push_back(i);
  EXPECT_EQ(order, expected);
  EXPECT_TRUE(all_on_ui);
}

TEST_F(ContractControls, TextReadsBackAsSet) {
  Window w(Window::Kind::Dialog, "設定", 300, 120);
  platform::Edit edit(w, {0, 0, 200, 20});
  platform::SpinEdit spin(w, {0, 30, 60, 20}, 5);
  platform::FileNameEdit name(w, {0, 60, 250, 20}, 255, "テキスト|*.txt", "txt");
  for (const std::string text : {"127.0.0.1", "取得エラー", ""}) {
    edit.set_text(text);
    EXPECT_EQ(edit.text(), text);
    name.set_text(text);
    EXPECT_EQ(name.text(), text);
  }
  // Text the program sets is taken as it is, even below the minimum or not a number.
  for (const std::string text : {"600", "0", "-3", "abc", ""}) {
    spin.set_text(text);
    EXPECT_EQ(spin.text(), text);
  }
  name.set_text("C:\\取得\\ip 結果.txt");
  EXPECT_EQ(name.text(), "C:\\取得\\ip 結果.txt");
}

TEST_F(ContractControls, EnabledStateFollowsSetEnabled) {
  Window w(Window::Kind::Dialog, "設定", 300, 120);
  platform::Edit edit(w, {0, 0, 200, 20});
  platform::SpinEdit spin(w, {0, 30, 60, 20}, 1);
  platform::CheckBox box(w, {0, 60, 100, 19}, "ＩＰ取得時に");
  platform::Button button(w, {120, 60, 80, 25}, "OK");
  for (platform::Control* c : std::vector<platform::Control*>{&edit, &spin, &box, &button}) {
    EXPECT_TRUE(c->enabled());
    c->set_enabled(false);
    EXPECT_FALSE(c->enabled());
    c->set_enabled(true);
    EXPECT_TRUE(c->enabled());
  }
}

TEST_F(ContractControls, CheckBoxHandlerRunsOnlyOnAChange) {
  Window w(Window::Kind::Dialog, "設定", 200, 100);
  platform::CheckBox box(w, {0, 0, 100, 19}, "ＩＰ取得時に");
  int calls = 0;
  box.on_click([&] { ++calls; });
  EXPECT_FALSE(box.checked());
  box.set_checked(false);
  EXPECT_EQ(calls, 0);
  box.set_checked(true);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(box.checked());
  box.set_checked(true);
  EXPECT_EQ(calls, 1);
  box.set_checked(false);
  EXPECT_EQ(calls, 2);
  EXPECT_FALSE(box.checked());
  // A disabled box still takes the program's changes.
  box.set_enabled(false);
  box.set_checked(true);
  EXPECT_TRUE(box.checked());
  EXPECT_EQ(calls, 3);
}

// A notification never waits for the desktop, whether it has a notification service or not
// (the Linux suite gives it a session bus address where nothing listens).
TEST_F(ContractNotify, ReturnsAtOnce) {
  const auto start = std::chrono::steady_clock::now();
  platform::notify("グローバルＩＰが変わりました", "203.0.113.5 → 198.51.100.7");
  platform::notify("グローバルＩＰが変わりました", "198.51.100.7 → 203.0.113.5");
  EXPECT_LT(contract::seconds_since(start), 0.2);
  pump_for(200);  // what the desktop answers, if anything, is taken without harm
}

}  // namespace
