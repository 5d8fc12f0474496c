#include <algorithm>

#include "platform/win32/win32_impl.h"

namespace platform {

namespace {

// Full-width characters of the fallback font can run wider than those the layout was
// made for; a text that would overflow its label is drawn up to 2 pixels (at 96 DPI) a
// character tighter instead of being cut off or covered by the next control.
struct LabelImpl : Control::Impl {
  int squeeze = 0;
  int font_height = kDefaultFontHeight;

  bool filter(HWND to, UINT msg, WPARAM, LPARAM, LRESULT& result) override {
    if (msg != WM_PAINT || squeeze == 0) return false;
    PAINTSTRUCT ps;
    const HDC dc = BeginPaint(to, &ps);
    RECT r;
    GetClientRect(to, &r);
    // The parent chooses the background and text colours, as for any static control.
    const auto brush = reinterpret_cast<HBRUSH>(SendMessageW(GetParent(to), WM_CTLCOLORSTATIC,
                                                             reinterpret_cast<WPARAM>(dc),
                                                             reinterpret_cast<LPARAM>(to)));
    FillRect(dc, &r, brush ? brush : GetSysColorBrush(COLOR_BTNFACE));
    const HGDIOBJ old = SelectObject(dc, win32::font(font_height));
    SetBkMode(dc, TRANSPARENT);
    SetTextCharacterExtra(dc, -squeeze);
    std::wstring text = win32::widen(win32::window_text(to));
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
              DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    EndPaint(to, &ps);
    result = 0;
    return true;
  }
};

std::unique_ptr<Control::Impl> make_label(Window& parent, Geometry g, const std::string& text,
                                          int font_height) {
  auto impl = std::make_unique<LabelImpl>();
  g = win32::scale(g);
  const std::wstring wide = win32::widen(text);
  const int chars = static_cast<int>(wide.size());
  const int overflow = win32::text_width(wide, font_height) - g.width;
  if (overflow > 0 && chars > 1)
    impl->squeeze = std::min(win32::scale(2), (overflow + chars - 1) / chars);
  // What still does not fit widens the label rather than being cut off.
  g.width = std::max(g.width, g.width + overflow - impl->squeeze * chars);
  impl->font_height = font_height;
  win32::create_child(*impl, parent, L"STATIC", wide, SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, g,
                      font_height);
  return impl;
}

}  // namespace

Label::Label(Window& parent, Geometry g, const std::string& text, int font_height)
    : Control(make_label(parent, g, text, font_height)) {}

}  // namespace platform
