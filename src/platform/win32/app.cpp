// Application start, message loop, idle hook, the UI hand-off and message boxes.

#include <atomic>
#include <cstdlib>
#include <memory>
#include <optional>

#include "logic/utf8.h"
#include "platform/win32/win32_impl.h"

namespace platform {

namespace {

constexpr UINT kRunPosted = WM_APP + 1;
constexpr wchar_t kMessageClass[] = L"AddrovaMessages";

DWORD g_ui_thread = 0;
std::atomic<HWND> g_message_window{nullptr};
std::function<void()> g_idle_hook;
// Set once the main loop has ended; hand-offs from late workers are dropped from then on.
std::atomic<bool> g_loop_ended{false};

LRESULT CALLBACK message_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kRunPosted) {
    std::unique_ptr<std::function<void()>> fn(reinterpret_cast<std::function<void()>*>(lp));
    if (!g_loop_ended) win32::invoke(*fn);
    return 0;
  }
  if (msg == win32::kNotificationIconMessage) {
    win32::notification_icon_event(LOWORD(lp));
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

void drop_posted() {
  MSG msg;
  const HWND hwnd = g_message_window;
  while (hwnd && PeekMessageW(&msg, hwnd, kRunPosted, kRunPosted, PM_REMOVE))
    delete reinterpret_cast<std::function<void()>*>(msg.lParam);
}

}  // namespace

// A GUI program started from Explorer or a shortcut: no console to answer on.
const bool kHasCommandLine = false;

void init(int&, char**&) {
  INITCOMMONCONTROLSEX icc{sizeof(icc),
                           ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  win32::ensure_ui();
}

void run_message_loop() {
  win32::ensure_ui();
  Window::Impl* main = win32::main_window();
  if (!main || !main->hwnd) return;
  g_loop_ended = false;
  win32::invoke(main->on_show);
  if (main->hwnd) {
    ShowWindow(main->hwnd, SW_SHOW);
    UpdateWindow(main->hwnd);
    SetForegroundWindow(main->hwnd);
  }
  win32::pump_until([main] { return main->destroyed || !main->hwnd; });
  g_loop_ended = true;
  win32::remove_notification_icon();
  drop_posted();
}

void set_idle_hook(std::function<void()> hook) {
  g_idle_hook = std::move(hook);
}

void post_to_ui(std::function<void()> fn) {
  const HWND hwnd = g_message_window;
  if (!fn || !hwnd || g_loop_ended) return;
  auto* posted = new std::function<void()>(std::move(fn));
  if (!PostMessageW(hwnd, kRunPosted, 0, reinterpret_cast<LPARAM>(posted))) delete posted;
}

bool on_ui_thread() {
  return g_ui_thread != 0 && GetCurrentThreadId() == g_ui_thread;
}

namespace {

// Set on the UI thread; the first reason counts.
std::optional<TerminalEnd> g_terminal_end;

// Runs on a thread of the system's own when the console is closed or Ctrl+C is pressed.
BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  post_to_ui([] {
    if (!g_terminal_end) g_terminal_end = TerminalEnd::Signalled;
  });
  return TRUE;
}

}  // namespace

TerminalEnd run_terminal_loop(const std::function<void()>& start) {
  win32::ensure_ui();
  g_loop_ended = false;
  g_terminal_end.reset();
  SetConsoleCtrlHandler(on_console_event, TRUE);
  win32::invoke(start);
  win32::pump_until([] { return g_terminal_end.has_value(); });
  SetConsoleCtrlHandler(on_console_event, FALSE);
  g_loop_ended = true;
  drop_posted();
  return g_terminal_end.value_or(TerminalEnd::Quit);
}

void quit_terminal_loop() {
  if (!g_terminal_end) g_terminal_end = TerminalEnd::Quit;
  // Wakes the loop, which looks at the flag after each message.
  PostMessageW(win32::message_window(), WM_NULL, 0, 0);
}

std::string executable_path() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return win32::narrow(path);
    }
    path.resize(path.size() * 2);
  }
}

std::string executable_directory() {
  const std::string path = executable_path();
  return path.substr(0, path.find_last_of("\\/") + 1);
}

std::string application_title() {
  return shared::title_from_executable(executable_path());
}

void message_box(const std::string& text) {
  MessageBoxW(win32::owner_window(), win32::widen(text).c_str(),
              win32::widen(application_title()).c_str(), MB_OK);
}

void show_exception(const std::exception& e) {
  MessageBoxW(win32::owner_window(), win32::widen(e.what()).c_str(),
              win32::widen(application_title()).c_str(), MB_OK | MB_ICONERROR);
}

void beep() {
  MessageBeep(MB_OK);
}

namespace win32 {

HINSTANCE instance() {
  return GetModuleHandleW(nullptr);
}

void ensure_ui() {
  if (g_message_window) return;
  g_ui_thread = GetCurrentThreadId();
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = message_proc;
  wc.hInstance = instance();
  wc.lpszClassName = kMessageClass;
  RegisterClassExW(&wc);
  g_message_window = CreateWindowExW(0, kMessageClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     instance(), nullptr);
  if (!g_message_window) throw Error("message window: " + system_message(GetLastError()));
}

HWND message_window() {
  return g_message_window;
}

HWND owner_window() {
  const HWND active = GetActiveWindow();
  if (active) return active;
  Window::Impl* main = main_window();
  return main && main->hwnd && IsWindowVisible(main->hwnd) ? main->hwnd : nullptr;
}

bool pump_until(const std::function<bool()>& done) {
  MSG msg;
  while (!done()) {
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (g_idle_hook) {
        // Taken out first, so that the hook may set a new one.
        const std::function<void()> hook = std::move(g_idle_hook);
        g_idle_hook = nullptr;
        invoke(hook);
        continue;
      }
      WaitMessage();
      continue;
    }
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    // Tab, Shift+Tab, Space and arrows move between and work the controls of our windows.
    const HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root && GetPropW(root, L"Addrova.Window") && IsDialogMessageW(root, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

}  // namespace win32
}  // namespace platform

// Takes the place of the runtime's verbose handler for an exception that nothing caught,
// which would bring its name demangler into the executable (a seventh of its size) to
// print to a console a GUI program does not have.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
  std::abort();
}
}  // namespace __gnu_cxx
