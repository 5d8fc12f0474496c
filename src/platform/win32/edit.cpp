#include "platform/win32/win32_impl.h"

namespace platform {

namespace {

std::unique_ptr<Control::Impl> make_edit(Window& parent, Geometry g, int font_height,
                                         bool centred) {
  auto impl = std::make_unique<Control::Impl>();
  win32::create_child(*impl, parent, L"EDIT", L"",
                      WS_TABSTOP | ES_AUTOHSCROLL | (centred ? ES_CENTER : ES_LEFT),
                      WS_EX_CLIENTEDGE, win32::scale(g), font_height);
  return impl;
}

}  // namespace

Edit::Edit(Window& parent, Geometry g, int font_height, bool centred)
    : Control(make_edit(parent, g, font_height, centred)) {}

std::string Edit::text() const {
  return win32::window_text(impl_->hwnd);
}

void Edit::set_text(const std::string& text) {
  SetWindowTextW(impl_->hwnd, win32::widen(text).c_str());
}

}  // namespace platform
