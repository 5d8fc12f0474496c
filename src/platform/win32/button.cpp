// Push buttons, and flat buttons that show a picture in place of a caption.
#include "platform/win32/win32_impl.h"

namespace platform {

namespace {

struct ButtonImpl : Control::Impl {
  void command(HWND, WORD code) override {
    if (code == BN_CLICKED) win32::invoke(on_click);
  }
};

// Drawn by the program: the picture on the face colour, a thin raised edge while the mouse
// is over it and a sunken one while pressed. Like a tool button it keeps no focus. Its
// window text, never drawn, names it for screen readers; the tooltip shows the same.
struct PictureButtonImpl : Control::Impl {
  std::string picture;
  bool hot = false;

  void command(HWND, WORD code) override {
    // An owner-drawn button reports a quick second click as a double click.
    if (code == BN_CLICKED || code == BN_DOUBLECLICKED) win32::invoke(on_click);
  }

  void draw(const DRAWITEMSTRUCT& item) override {
    RECT r = item.rcItem;
    FillRect(item.hDC, &r, GetSysColorBrush(COLOR_BTNFACE));
    const bool pressed = item.itemState & ODS_SELECTED;
    const bool disabled = item.itemState & ODS_DISABLED;
    if (pressed)
      DrawEdge(item.hDC, &r, BDR_SUNKENOUTER, BF_RECT);
    else if (hot && !disabled)
      DrawEdge(item.hDC, &r, BDR_RAISEDINNER, BF_RECT);
    if (pressed) OffsetRect(&r, 1, 1);
    win32::draw_picture(item.hDC, r, picture.c_str(), disabled ? 96 : 255);
  }

  bool filter(HWND to, UINT msg, WPARAM wp, LPARAM, LRESULT& result) override {
    switch (msg) {
      case WM_MOUSEMOVE:
        if (!hot) {
          hot = true;
          TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, to, 0};
          TrackMouseEvent(&track);
          InvalidateRect(to, nullptr, FALSE);
        }
        return false;
      case WM_MOUSELEAVE:
        hot = false;
        InvalidateRect(to, nullptr, FALSE);
        return false;
      case WM_SETFOCUS:
        // Hands the focus straight back to the control that had it.
        if (wp && IsWindow(reinterpret_cast<HWND>(wp))) {
          SetFocus(reinterpret_cast<HWND>(wp));
          result = 0;
          return true;
        }
        return false;
      default:
        return false;
    }
  }
};

std::unique_ptr<Control::Impl> make_button(Window& parent, Geometry g, const std::string& caption) {
  auto impl = std::make_unique<ButtonImpl>();
  win32::create_child(*impl, parent, L"BUTTON", win32::widen(caption), WS_TABSTOP | BS_PUSHBUTTON,
                      0, win32::scale(g));
  return impl;
}

std::unique_ptr<Control::Impl> make_picture_button(Window& parent, Geometry g,
                                                   const char* picture) {
  auto impl = std::make_unique<PictureButtonImpl>();
  impl->picture = picture;
  win32::create_child(*impl, parent, L"BUTTON", L"", BS_OWNERDRAW, 0, win32::scale(g));
  return impl;
}

}  // namespace

Button::Button(Window& parent, Geometry g, const std::string& caption)
    : Control(make_button(parent, g, caption)) {}

Button::Button(Window& parent, Geometry g, PictureName picture)
    : Control(make_picture_button(parent, g, picture.name)) {}

void Button::on_click(std::function<void()> handler) {
  impl_->on_click = std::move(handler);
}

void Button::click() {
  win32::invoke(impl_->on_click);
}

}  // namespace platform
