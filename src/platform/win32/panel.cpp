// A framed, clickable caption.
#include "platform/win32/win32_impl.h"

namespace platform {

namespace {

struct PanelImpl : Control::Impl {
  void command(HWND, WORD code) override {
    if (code == STN_CLICKED || code == STN_DBLCLK) win32::invoke(on_click);
  }
};

std::unique_ptr<Control::Impl> make_panel(Window& parent, Geometry g, const std::string& caption) {
  auto impl = std::make_unique<PanelImpl>();
  win32::create_child(*impl, parent, L"STATIC", win32::widen(caption),
                      SS_NOTIFY | SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX, WS_EX_STATICEDGE, g);
  return impl;
}

}  // namespace

Panel::Panel(Window& parent, Geometry g, const std::string& caption)
    : Control(make_panel(parent, g, caption)) {}

void Panel::on_click(std::function<void()> handler) {
  impl_->on_click = std::move(handler);
}

}  // namespace platform
