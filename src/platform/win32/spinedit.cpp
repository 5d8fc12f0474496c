// The interval box: an edit box with up-down arrows at its right end.

#include "Option/spin_rules.h"
#include "platform/win32/win32_impl.h"

namespace platform {

namespace {

// The arrows keep a fixed position of their own in the middle of a range; each of their
// steps is cancelled and carried out on the text instead, so the box has no upper bound.
constexpr int kArrowRange = 100;

struct SpinImpl : Control::Impl {
  int minimum = 0;

  void set(const std::string& text) {
    if (text != win32::window_text(hwnd)) SetWindowTextW(hwnd, win32::widen(text).c_str());
  }

  void step(int delta) {
    set(option::spin_step(win32::window_text(hwnd), delta, minimum));
    SendMessageW(hwnd, EM_SETSEL, 0, -1);
  }

  LRESULT notify(const NMHDR& header) override {
    if (header.code != UDN_DELTAPOS) return 0;
    const auto& change = reinterpret_cast<const NMUPDOWN&>(header);
    if (change.iDelta != 0) step(change.iDelta > 0 ? 1 : -1);
    return 1;
  }

  bool filter(HWND to, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override {
    if (to != hwnd) return false;
    switch (msg) {
      case WM_CHAR: {
        // Digits and editing keys (the control characters: backspace, cut, copy, paste,
        // undo); every other character beeps and is dropped.
        const auto c = static_cast<char32_t>(wp);
        if (c < 0x20 || c == 0x7F || option::spin_accepts_char(c)) return false;
        beep();
        result = 0;
        return true;
      }
      case WM_KEYDOWN:
        if (wp != VK_UP && wp != VK_DOWN) return false;
        step(wp == VK_UP ? 1 : -1);
        result = 0;
        return true;
      case WM_MOUSEWHEEL: {
        const short delta = GET_WHEEL_DELTA_WPARAM(wp);
        if (delta != 0) step(delta > 0 ? 1 : -1);
        result = 0;
        return true;
      }
      case WM_PASTE: {
        // A paste that leaves no integer behind is undone.
        const std::string before = win32::window_text(hwnd);
        DWORD start = 0, end = 0;
        SendMessageW(hwnd, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                     reinterpret_cast<LPARAM>(&end));
        result = DefSubclassProc(to, msg, wp, lp);
        if (!option::spin_accepts_paste(win32::window_text(hwnd))) {
          SetWindowTextW(hwnd, win32::widen(before).c_str());
          SendMessageW(hwnd, EM_SETSEL, start, end);
          beep();
        }
        return true;
      }
      case WM_KILLFOCUS:
        result = DefSubclassProc(to, msg, wp, lp);
        set(option::spin_leave(win32::window_text(hwnd), minimum));
        return true;
      default:
        return false;
    }
  }
};

std::unique_ptr<Control::Impl> make_spin(Window& parent, Geometry g, int minimum) {
  auto impl = std::make_unique<SpinImpl>();
  impl->minimum = minimum;
  win32::create_child(*impl, parent, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE,
                      win32::scale(g));
  // Aligned to the right, the arrows take their width from the box's.
  impl->extra =
      CreateWindowExW(0, UPDOWN_CLASSW, nullptr,
                      WS_CHILD | WS_VISIBLE | UDS_ALIGNRIGHT | UDS_NOTHOUSANDS | UDS_HOTTRACK, 0, 0,
                      0, 0, parent.impl().hwnd, nullptr, win32::instance(), nullptr);
  if (!impl->extra) throw Error("up-down: " + win32::system_message(GetLastError()));
  win32::attach(*impl, impl->extra);
  SendMessageW(impl->extra, UDM_SETRANGE32, 0, kArrowRange);
  SendMessageW(impl->extra, UDM_SETPOS32, 0, kArrowRange / 2);
  SendMessageW(impl->extra, UDM_SETBUDDY, reinterpret_cast<WPARAM>(impl->hwnd), 0);
  return impl;
}

}  // namespace

SpinEdit::SpinEdit(Window& parent, Geometry g, int minimum)
    : Control(make_spin(parent, g, minimum)) {}

std::string SpinEdit::text() const {
  return win32::window_text(impl_->hwnd);
}

void SpinEdit::set_text(const std::string& text) {
  SetWindowTextW(impl_->hwnd, win32::widen(text).c_str());
}

}  // namespace platform
