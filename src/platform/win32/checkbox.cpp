#include <algorithm>

#include "platform/win32/win32_impl.h"

namespace platform {

namespace {

// The handler runs on every change of state, whether the user or the program made it,
// and never when the state is set to what it already is.
struct CheckBoxImpl : Control::Impl {
  bool state = false;

  bool current() const { return SendMessageW(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED; }

  void changed() {
    const bool now = current();
    if (now == state) return;
    state = now;
    win32::invoke(on_click);
  }

  void command(HWND, WORD code) override {
    if (code == BN_CLICKED || code == BN_DOUBLECLICKED) changed();
  }
};

std::unique_ptr<Control::Impl> make_check(Window& parent, Geometry g, const std::string& caption) {
  auto impl = std::make_unique<CheckBoxImpl>();
  const std::wstring wide = win32::widen(caption);
  // Like a label, the box grows to show its whole caption: the check mark, a gap, the text.
  g = win32::scale(g);
  g.width = std::max(g.width,
                     GetSystemMetrics(SM_CXMENUCHECK) + win32::scale(6) + win32::text_width(wide));
  win32::create_child(*impl, parent, L"BUTTON", wide, WS_TABSTOP | BS_AUTOCHECKBOX, 0, g);
  return impl;
}

}  // namespace

CheckBox::CheckBox(Window& parent, Geometry g, const std::string& caption)
    : Control(make_check(parent, g, caption)) {}

bool CheckBox::checked() const {
  return static_cast<CheckBoxImpl&>(*impl_).current();
}

void CheckBox::set_checked(bool on) {
  auto& c = static_cast<CheckBoxImpl&>(*impl_);
  SendMessageW(c.hwnd, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
  c.changed();
}

void CheckBox::on_click(std::function<void()> handler) {
  impl_->on_click = std::move(handler);
}

}  // namespace platform
