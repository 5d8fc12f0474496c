// The controls' rules and the message loop, driven through the messages a user's input
// produces.
#include <gtest/gtest.h>

#include <thread>

#include "platform/platform.h"
#include "platform/win32/win32_impl.h"

namespace {

using platform::Window;

HWND hwnd_of(const platform::Control& c) {
  return c.impl().hwnd;
}

// Dispatches what is queued for the given time.
void pump_for(DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  while (static_cast<LONG>(end - GetTickCount()) > 0) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  }
}

TEST(Window, ClientAreaIsExactlyTheAskedSizeAtTheDisplaysDpi) {
  Window main(Window::Kind::Main, "Addrova", 402, 39);
  Window dialog(Window::Kind::Dialog, "設定", 484, 256);
  for (const Window* w : {&main, &dialog}) {
    RECT r{};
    GetClientRect(w->impl().hwnd, &r);
    EXPECT_EQ(r.right, platform::win32::scale(w == &main ? 402 : 484));
    EXPECT_EQ(r.bottom, platform::win32::scale(w == &main ? 39 : 256));
    EXPECT_FALSE(GetWindowLongW(w->impl().hwnd, GWL_STYLE) & (WS_THICKFRAME | WS_MAXIMIZEBOX));
  }
  EXPECT_EQ(GetWindow(dialog.impl().hwnd, GW_OWNER), main.impl().hwnd);
  EXPECT_EQ(main.title(), "Addrova");
  dialog.set_title("設定 2");
  EXPECT_EQ(dialog.title(), "設定 2");
}

// The program's changes are in the contract suite (ContractControls); here the user's.
TEST(CheckBox, UsersClickRunsTheHandler) {
  Window w(Window::Kind::Main, "t", 200, 100);
  platform::CheckBox box(w, {0, 0, 100, 19}, "ＩＰ取得時に");
  int calls = 0;
  box.on_click([&calls] { ++calls; });
  box.set_checked(true);
  EXPECT_EQ(calls, 1);
  SendMessageW(hwnd_of(box), BM_CLICK, 0, 0);  // the user's click
  EXPECT_EQ(calls, 2);
  EXPECT_FALSE(box.checked());
}

TEST(Button, ClickRunsTheHandler) {
  Window w(Window::Kind::Main, "t", 200, 100);
  platform::Button button(w, {0, 0, 100, 25}, "x");
  bool ran = false;
  button.on_click([&ran] { ran = true; });
  button.click();
  EXPECT_TRUE(ran);
}

class SpinEditTest : public testing::Test {
 protected:
  Window window_{Window::Kind::Main, "t", 200, 100};
  platform::SpinEdit spin_{window_, {10, 10, 49, 21}, 5};
  HWND edit() const { return hwnd_of(spin_); }
  void type(wchar_t c) { SendMessageW(edit(), WM_CHAR, c, 0); }
  void key(WPARAM vk) { SendMessageW(edit(), WM_KEYDOWN, vk, 0); }
  void arrow(int delta) {
    NMUPDOWN nm{};
    nm.hdr.hwndFrom = spin_.impl().extra;
    nm.hdr.code = UDN_DELTAPOS;
    nm.iDelta = delta;
    SendMessageW(window_.impl().hwnd, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&nm));
  }
};

TEST_F(SpinEditTest, OnlyDigitsAndEditingKeysAreTyped) {
  spin_.set_text("");
  for (wchar_t c : {L'1', L'a', L'-', L'２', L'0', L' '}) type(c);
  EXPECT_EQ(spin_.text(), "10");
  type(L'\b');
  EXPECT_EQ(spin_.text(), "1");
  spin_.set_text("abc");  // text from the program is taken as it is
  EXPECT_EQ(spin_.text(), "abc");
}

TEST_F(SpinEditTest, StepsNeverGoBelowTheMinimumAndHaveNoTop) {
  spin_.set_text("6");
  key(VK_DOWN);
  EXPECT_EQ(spin_.text(), "5");
  key(VK_DOWN);
  EXPECT_EQ(spin_.text(), "5");
  arrow(-1);
  EXPECT_EQ(spin_.text(), "5");
  arrow(1);
  arrow(1);
  EXPECT_EQ(spin_.text(), "7");
  SendMessageW(edit(), WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), 0);
  EXPECT_EQ(spin_.text(), "8");
  spin_.set_text("99999");
  key(VK_UP);
  EXPECT_EQ(spin_.text(), "100000");
  spin_.set_text("2147483647");
  arrow(1);
  EXPECT_EQ(spin_.text(), "2147483647");
  spin_.set_text("");
  key(VK_UP);
  EXPECT_EQ(spin_.text(), "6");  // from the minimum when there is no number
}

TEST_F(SpinEditTest, LeavingTheBoxEmptyOrTooLowGivesTheMinimum) {
  for (const char* text : {"", "3", "abc"}) {
    spin_.set_text(text);
    SendMessageW(edit(), WM_KILLFOCUS, 0, 0);
    EXPECT_EQ(spin_.text(), "5") << text;
  }
  spin_.set_text("42");
  SendMessageW(edit(), WM_KILLFOCUS, 0, 0);
  EXPECT_EQ(spin_.text(), "42");
}

TEST_F(SpinEditTest, PasteThatIsNoIntegerIsUndone) {
  spin_.set_text("12");
  SendMessageW(edit(), EM_SETSEL, 2, 2);
  platform::clipboard_set_text("x3");
  SendMessageW(edit(), WM_PASTE, 0, 0);
  EXPECT_EQ(spin_.text(), "12");
  platform::clipboard_set_text("34");
  SendMessageW(edit(), WM_PASTE, 0, 0);
  EXPECT_EQ(spin_.text(), "1234");
}

// Runs before the main loop test: hand-offs are dropped once a main loop has ended, so
// the dialog is driven by a timer here.
TEST(ModalDialog, DisablesItsOwnerUntilClosed) {
  Window main(Window::Kind::Main, "Addrova", 100, 40);
  Window dialog(Window::Kind::Dialog, "設定", 200, 100);
  ShowWindow(main.impl().hwnd, SW_SHOW);
  bool owner_disabled = false, shown = false;
  platform::Timer end(20, [&] {
    owner_disabled = !IsWindowEnabled(main.impl().hwnd) && dialog.visible();
    dialog.end_modal();
  });
  dialog.on_show([&] {
    shown = true;
    end.set_enabled(true);
  });
  dialog.show_modal();
  end.set_enabled(false);
  EXPECT_TRUE(shown);
  EXPECT_TRUE(owner_disabled);
  EXPECT_TRUE(IsWindowEnabled(main.impl().hwnd));
  EXPECT_FALSE(dialog.visible());

  // The title-bar close hides the dialog and ends the loop; the window stays usable.
  platform::Timer close(20, [&] { PostMessageW(dialog.impl().hwnd, WM_CLOSE, 0, 0); });
  dialog.on_show([&] { close.set_enabled(true); });
  dialog.show_modal();
  close.set_enabled(false);
  EXPECT_FALSE(dialog.visible());
  EXPECT_TRUE(IsWindow(dialog.impl().hwnd));
  EXPECT_TRUE(IsWindowEnabled(main.impl().hwnd));
}

TEST(MessageLoop, ShowIdleHandOffAndDropAfterTheEnd) {
  Window main(Window::Kind::Main, "Addrova", 100, 40);
  std::vector<std::string> order;
  main.on_show([&] { order.push_back(main.visible() ? "show:visible" : "show:hidden"); });
  int late_runs = 0;
  platform::set_idle_hook([&] {
    order.push_back(main.visible() ? "idle:visible" : "idle:hidden");
    // A worker hands off two steps, then the window closes.
    std::thread([&] {
      platform::post_to_ui([&] { order.push_back(platform::on_ui_thread() ? "a:ui" : "a:other"); });
      platform::post_to_ui([&] {
        order.push_back("b");
        PostMessageW(main.impl().hwnd, WM_CLOSE, 0, 0);
      });
    }).join();
  });
  platform::run_message_loop();
  EXPECT_EQ(order, (std::vector<std::string>{"show:hidden", "idle:visible", "a:ui", "b"}));
  EXPECT_FALSE(IsWindow(main.impl().hwnd));
  platform::post_to_ui([&late_runs] { ++late_runs; });
  pump_for(50);
  EXPECT_EQ(late_runs, 0);
}

// The balloon's icon in the notification area: added by the first notification, kept for the
// next, which replaces the balloon, removed once the balloon is gone (as the shell tells the
// message window) and when the message loop ends. Wine 8 takes the icon but never tells of
// the balloon's end (not within 40 s), so the test sends the shell's messages itself.
TEST(Notification, TheBalloonsIconGoesWithTheBalloonAndAtTheEnd) {
  using platform::win32::notification_icon_shown;
  platform::notify("グローバルＩＰが変わりました", "203.0.113.5 → 198.51.100.7");
  ASSERT_TRUE(notification_icon_shown()) << "Shell_NotifyIconW(NIM_ADD) failed";
  platform::notify("グローバルＩＰが変わりました", "198.51.100.7 → 203.0.113.5");
  EXPECT_TRUE(notification_icon_shown());
  const HWND messages = platform::win32::message_window();
  SendMessageW(messages, platform::win32::kNotificationIconMessage, 1, WM_MOUSEMOVE);
  EXPECT_TRUE(notification_icon_shown()) << "the mouse passing over the icon";
  SendMessageW(messages, platform::win32::kNotificationIconMessage, 1, NIN_BALLOONTIMEOUT);
  EXPECT_FALSE(notification_icon_shown());
  platform::notify("グローバルＩＰが変わりました", "203.0.113.5 → 198.51.100.7");
  SendMessageW(messages, platform::win32::kNotificationIconMessage, 1, NIN_BALLOONUSERCLICK);
  EXPECT_FALSE(notification_icon_shown());

  Window main(Window::Kind::Main, "Addrova", 100, 40);
  bool shown_in_loop = false;
  platform::set_idle_hook([&] {
    platform::notify("グローバルＩＰが変わりました", "198.51.100.7 → 203.0.113.5");
    shown_in_loop = notification_icon_shown();
    PostMessageW(main.impl().hwnd, WM_CLOSE, 0, 0);
  });
  platform::run_message_loop();
  EXPECT_TRUE(shown_in_loop);
  EXPECT_FALSE(notification_icon_shown()) << "left in the notification area at the end";
}

}  // namespace
