// Top-level windows with a fixed dialog border and a client area of exactly the asked size,
// scaled to the display's DPI.
#include "platform/win32/win32_impl.h"

namespace platform {

namespace {

constexpr wchar_t kWindowClass[] = L"AddrovaWindow";
constexpr wchar_t kWindowProp[] = L"Addrova.Window";
constexpr DWORD kStyle = WS_CAPTION | WS_SYSMENU | WS_BORDER | WS_CLIPCHILDREN;

Window::Impl* g_main_window = nullptr;

bool focusable(HWND hwnd) {
  return hwnd && IsWindow(hwnd) && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd);
}

// Gives the focus back to the child that last had it, or to the first tab stop.
void restore_focus(Window::Impl& w) {
  HWND target = focusable(w.focus) ? w.focus : GetNextDlgTabItem(w.hwnd, nullptr, FALSE);
  if (target) SetFocus(target);
}

LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* w = reinterpret_cast<Window::Impl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == WM_NCCREATE) {
    w = static_cast<Window::Impl*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    w->hwnd = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w));
    SetPropW(hwnd, kWindowProp, w);
  }
  if (!w) return DefWindowProcW(hwnd, msg, wp, lp);
  switch (msg) {
    case WM_COMMAND:
      if (Control::Impl* c = win32::control_of(reinterpret_cast<HWND>(lp))) {
        c->command(reinterpret_cast<HWND>(lp), HIWORD(wp));
        return 0;
      }
      break;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lp);
      if (Control::Impl* c = win32::control_of(header->hwndFrom)) return c->notify(*header);
      break;
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      if (Control::Impl* c = win32::control_of(item->hwndItem)) {
        c->draw(*item);
        return TRUE;
      }
      break;
    }
    case WM_ACTIVATE:
      if (LOWORD(wp) == WA_INACTIVE) {
        const HWND f = GetFocus();
        if (f && IsChild(hwnd, f)) w->focus = f;
      } else if (!HIWORD(wp)) {
        restore_focus(*w);
      }
      return 0;
    case WM_SETFOCUS:
      restore_focus(*w);
      return 0;
    case WM_CLOSE:
      // The title-bar close only hides a dialog and ends its modal loop.
      if (w->kind == Window::Kind::Dialog) {
        if (w->in_modal)
          w->end_modal = true;
        else
          ShowWindow(hwnd, SW_HIDE);
        return 0;
      }
      break;
    case WM_DESTROY:
      if (w->kind == Window::Kind::Main) w->destroyed = true;
      break;
    case WM_NCDESTROY:
      RemovePropW(hwnd, kWindowProp);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      w->hwnd = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

void register_class() {
  static bool registered = false;
  if (registered) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = window_proc;
  wc.hInstance = win32::instance();
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  // The first icon resource; the small one is picked from the same file.
  wc.hIcon =
      static_cast<HICON>(LoadImageW(wc.hInstance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                    GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  wc.hIconSm = static_cast<HICON>(LoadImageW(wc.hInstance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  if (!RegisterClassExW(&wc)) throw Error("window class: " + win32::system_message(GetLastError()));
  registered = true;
}

}  // namespace

Window::Window(Kind kind, const std::string& title, int client_width, int client_height)
    : impl_(std::make_unique<Impl>()) {
  win32::ensure_ui();
  register_class();
  impl_->kind = kind;
  // A dialog belongs to the main window: no taskbar button, always above it.
  const HWND owner = kind == Kind::Dialog && g_main_window ? g_main_window->hwnd : nullptr;
  const DWORD ex_style = WS_EX_CONTROLPARENT | (kind == Kind::Dialog ? WS_EX_DLGMODALFRAME : 0);
  client_width = win32::scale(client_width);
  client_height = win32::scale(client_height);
  RECT r{0, 0, client_width, client_height};
  AdjustWindowRectEx(&r, kStyle, FALSE, ex_style);
  CreateWindowExW(ex_style, kWindowClass, win32::widen(title).c_str(), kStyle, CW_USEDEFAULT,
                  CW_USEDEFAULT, r.right - r.left, r.bottom - r.top, owner, nullptr,
                  win32::instance(), impl_.get());
  if (!impl_->hwnd) throw Error("window: " + win32::system_message(GetLastError()));
  // Correct for a frame whose size the estimate did not match.
  RECT client{}, outer{};
  GetClientRect(impl_->hwnd, &client);
  GetWindowRect(impl_->hwnd, &outer);
  const int dw = client_width - (client.right - client.left);
  const int dh = client_height - (client.bottom - client.top);
  if (dw || dh)
    SetWindowPos(impl_->hwnd, nullptr, 0, 0, outer.right - outer.left + dw,
                 outer.bottom - outer.top + dh, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  if (kind == Kind::Main) g_main_window = impl_.get();
}

Window::~Window() {
  if (g_main_window == impl_.get()) g_main_window = nullptr;
  if (impl_->hwnd) DestroyWindow(impl_->hwnd);
}

std::string Window::title() const {
  return impl_->hwnd ? win32::window_text(impl_->hwnd) : "";
}

void Window::set_title(const std::string& title) {
  if (impl_->hwnd) SetWindowTextW(impl_->hwnd, win32::widen(title).c_str());
}

void Window::on_show(std::function<void()> handler) {
  impl_->on_show = std::move(handler);
}

void Window::show_modal() {
  Impl& w = *impl_;
  if (!w.hwnd || w.in_modal) return;
  win32::invoke(w.on_show);
  if (!w.hwnd) return;
  const Rect r = outer_rect();
  move((GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2,
       (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2);
  const HWND owner = GetWindow(w.hwnd, GW_OWNER);
  const bool owner_was_enabled = owner && IsWindowEnabled(owner);
  if (owner_was_enabled) EnableWindow(owner, FALSE);
  w.in_modal = true;
  w.end_modal = false;
  ShowWindow(w.hwnd, SW_SHOW);
  SetForegroundWindow(w.hwnd);
  win32::pump_until([&w] {
    const Window::Impl* main = win32::main_window();
    return w.end_modal || !w.hwnd || !IsWindowVisible(w.hwnd) || (main && main->destroyed);
  });
  w.in_modal = false;
  w.end_modal = false;
  // The owner is enabled before the dialog hides, so that it is the one activated next.
  if (owner_was_enabled && IsWindow(owner)) EnableWindow(owner, TRUE);
  if (w.hwnd) ShowWindow(w.hwnd, SW_HIDE);
}

void Window::end_modal() {
  Impl& w = *impl_;
  if (w.in_modal) {
    w.end_modal = true;
    PostMessageW(win32::message_window(), WM_NULL, 0, 0);  // wakes the modal loop
  } else if (w.hwnd) {
    ShowWindow(w.hwnd, SW_HIDE);
  }
}

bool Window::visible() const {
  return impl_->hwnd && IsWindowVisible(impl_->hwnd);
}

Rect Window::outer_rect() const {
  RECT r{};
  if (impl_->hwnd) GetWindowRect(impl_->hwnd, &r);
  return {r.left, r.top, r.right, r.bottom};
}

void Window::move(int left, int top) {
  if (impl_->hwnd)
    SetWindowPos(impl_->hwnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace win32 {

Window::Impl* main_window() {
  return g_main_window;
}

}  // namespace win32
}  // namespace platform
