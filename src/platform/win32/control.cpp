// What every control has: its window, font, enabling, focus and the hand cursor.

#include <map>

#include "platform/win32/win32_impl.h"

namespace platform {

namespace {

constexpr wchar_t kControlProp[] = L"Addrova.Control";
constexpr UINT_PTR kSubclassId = 1;

LRESULT CALLBACK control_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
  auto* c = reinterpret_cast<Control::Impl*>(data);
  if (msg == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, control_proc, kSubclassId);
    RemovePropW(hwnd, kControlProp);
    if (c->hwnd == hwnd) c->hwnd = nullptr;
    if (c->extra == hwnd) c->extra = nullptr;
    return DefSubclassProc(hwnd, msg, wp, lp);
  }
  if (msg == WM_SETCURSOR && c->hand_cursor && LOWORD(lp) == HTCLIENT) {
    SetCursor(LoadCursorW(nullptr, IDC_HAND));
    return TRUE;
  }
  LRESULT result = 0;
  if (c->filter(hwnd, msg, wp, lp, result)) return result;
  return DefSubclassProc(hwnd, msg, wp, lp);
}

}  // namespace

Control::Impl::~Impl() {
  if (tooltip) DestroyWindow(tooltip);
  for (HWND h : {extra, hwnd}) {
    if (!h) continue;
    RemoveWindowSubclass(h, control_proc, kSubclassId);
    RemovePropW(h, kControlProp);
    DestroyWindow(h);
  }
}

void Control::Impl::command(HWND, WORD) {}

LRESULT Control::Impl::notify(const NMHDR&) {
  return 0;
}

void Control::Impl::draw(const DRAWITEMSTRUCT&) {}

bool Control::Impl::filter(HWND, UINT, WPARAM, LPARAM, LRESULT&) {
  return false;
}

Control::Control(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Control::~Control() = default;

void Control::set_enabled(bool on) {
  for (HWND h : {impl_->hwnd, impl_->extra})
    if (h) EnableWindow(h, on);
}

bool Control::enabled() const {
  return impl_->hwnd && IsWindowEnabled(impl_->hwnd);
}

void Control::set_hand_cursor() {
  impl_->hand_cursor = true;
}

// The window text is what screen readers read for a button; an owner-drawn one does not
// draw it.
void Control::set_hint(const std::string& text) {
  if (!impl_->hwnd) return;
  const std::wstring wide = win32::widen(text);
  SetWindowTextW(impl_->hwnd, wide.c_str());
  win32::add_tooltip(*impl_, impl_->hwnd, wide);
}

// In a window that is not active yet, the control is remembered and focused when the
// window is activated.
void Control::focus() {
  const HWND hwnd = impl_->hwnd;
  if (!hwnd) return;
  const HWND root = GetAncestor(hwnd, GA_ROOT);
  if (auto* w = static_cast<Window::Impl*>(GetPropW(root, L"Addrova.Window"))) w->focus = hwnd;
  if (GetActiveWindow() == root) SetFocus(hwnd);
}

namespace win32 {

int dpi() {
  static const int value = [] {
    const HDC dc = GetDC(nullptr);
    const int d = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
    if (dc) ReleaseDC(nullptr, dc);
    return d > 0 ? d : 96;
  }();
  return value;
}

int scale(int length) {
  return MulDiv(length, dpi(), 96);
}

Geometry scale(Geometry g) {
  const int left = scale(g.left), top = scale(g.top);
  return {left, top, scale(g.left + g.width) - left, scale(g.top + g.height) - top};
}

HFONT font(int height) {
  static std::map<int, HFONT> fonts;
  HFONT& f = fonts[height];
  if (!f)
    // Rounded towards zero, unlike lengths: text never grows faster than the boxes that
    // hold it (-11 px is -16 at 144 DPI, not -17, and stays inside its check box).
    f = CreateFontW(height * dpi() / 96, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                    OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                    DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
  return f;
}

int text_width(const std::wstring& text, int font_height) {
  const HDC dc = GetDC(nullptr);
  const HGDIOBJ old = SelectObject(dc, font(font_height));
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return size.cx;
}

void add_tooltip(Control::Impl& impl, HWND tool, const std::wstring& text) {
  if (!impl.tooltip)
    impl.tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                   WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                   GetAncestor(tool, GA_ROOT), nullptr, instance(), nullptr);
  if (!impl.tooltip) return;  // a control without its tooltip still works
  TOOLINFOW info{};
  info.cbSize = sizeof(info);
  info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  info.hwnd = GetParent(tool);
  info.uId = reinterpret_cast<UINT_PTR>(tool);
  info.lpszText = const_cast<wchar_t*>(text.c_str());  // copied by the control
  SendMessageW(impl.tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

void attach(Control::Impl& impl, HWND hwnd) {
  SetPropW(hwnd, kControlProp, &impl);
  SetWindowSubclass(hwnd, control_proc, kSubclassId, reinterpret_cast<DWORD_PTR>(&impl));
}

HWND create_child(Control::Impl& impl, Window& parent, const wchar_t* window_class,
                  const std::wstring& text, DWORD style, DWORD ex_style, Geometry g,
                  int font_height) {
  const HWND hwnd =
      CreateWindowExW(ex_style, window_class, text.c_str(), WS_CHILD | WS_VISIBLE | style, g.left,
                      g.top, g.width, g.height, parent.impl().hwnd, nullptr, instance(), nullptr);
  if (!hwnd) throw Error("control: " + system_message(GetLastError()));
  SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font(font_height)), FALSE);
  impl.hwnd = hwnd;
  attach(impl, hwnd);
  return hwnd;
}

Control::Impl* control_of(HWND hwnd) {
  return hwnd ? static_cast<Control::Impl*>(GetPropW(hwnd, kControlProp)) : nullptr;
}

}  // namespace win32
}  // namespace platform
