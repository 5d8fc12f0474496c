// A framed, clickable caption. It is a tab stop: with the focus it shows a focus mark, and
// Space or Enter work it as a click does.
#include "platform/win32/win32_impl.h"

namespace platform {

namespace {

struct PanelImpl : Control::Impl {
  void command(HWND, WORD code) override {
    if (code == STN_CLICKED || code == STN_DBLCLK) win32::invoke(on_click);
  }

  // The caption centred on the background the parent chooses, and the focus mark.
  void paint(HWND to, HDC dc) {
    RECT r;
    GetClientRect(to, &r);
    const auto brush = reinterpret_cast<HBRUSH>(SendMessageW(GetParent(to), WM_CTLCOLORSTATIC,
                                                             reinterpret_cast<WPARAM>(dc),
                                                             reinterpret_cast<LPARAM>(to)));
    FillRect(dc, &r, brush ? brush : GetSysColorBrush(COLOR_BTNFACE));
    const HGDIOBJ old = SelectObject(dc, win32::font(kDefaultFontHeight));
    SetBkMode(dc, TRANSPARENT);
    if (!IsWindowEnabled(to)) SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    const std::wstring text = win32::widen(win32::window_text(to));
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    if (GetFocus() == to && !(SendMessageW(to, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS)) {
      InflateRect(&r, -1, -1);
      DrawFocusRect(dc, &r);
    }
  }

  bool filter(HWND to, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override {
    switch (msg) {
      case WM_PAINT: {
        PAINTSTRUCT ps;
        const HDC dc = BeginPaint(to, &ps);
        paint(to, dc);
        EndPaint(to, &ps);
        result = 0;
        return true;
      }
      case WM_PRINTCLIENT:
        paint(to, reinterpret_cast<HDC>(wp));
        result = 0;
        return true;
      case WM_SETFOCUS:
      case WM_KILLFOCUS:
      case WM_UPDATEUISTATE:
        InvalidateRect(to, nullptr, FALSE);
        return false;
      case WM_GETDLGCODE: {
        // Enter comes to the panel rather than going to the window as a default action.
        result = DefSubclassProc(to, msg, wp, lp);
        const auto* m = reinterpret_cast<const MSG*>(lp);
        if (m && (m->message == WM_KEYDOWN || m->message == WM_CHAR) && m->wParam == VK_RETURN)
          result |= DLGC_WANTMESSAGE;
        return true;
      }
      case WM_KEYDOWN:
        if (wp != VK_SPACE && wp != VK_RETURN) return false;
        if (!(lp & (1 << 30))) win32::invoke(on_click);  // not again while the key repeats
        result = 0;
        return true;
      default:
        return false;
    }
  }
};

std::unique_ptr<Control::Impl> make_panel(Window& parent, Geometry g, const std::string& caption) {
  auto impl = std::make_unique<PanelImpl>();
  win32::create_child(*impl, parent, L"STATIC", win32::widen(caption),
                      WS_TABSTOP | SS_NOTIFY | SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX,
                      WS_EX_STATICEDGE, win32::scale(g));
  return impl;
}

}  // namespace

Panel::Panel(Window& parent, Geometry g, const std::string& caption)
    : Control(make_panel(parent, g, caption)) {}

void Panel::on_click(std::function<void()> handler) {
  impl_->on_click = std::move(handler);
}

}  // namespace platform
