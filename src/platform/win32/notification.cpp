// Notifications as a balloon of an icon in the notification area (shown as a toast from
// Windows 10 on), and network changes from the IP helper's route notifications.
#include "platform/win32/win32_impl.h"
// After winsock2.h.
#include <ws2ipdef.h>
// After ws2ipdef.h, for the route notifications.
#include <iphlpapi.h>

#include <cwchar>

namespace platform {

namespace {

constexpr UINT kIconId = 1;
bool g_icon_shown = false;

std::function<void()> g_network_handler;  // UI thread only

NOTIFYICONDATAW icon_data() {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = win32::message_window();
  data.uID = kIconId;
  return data;
}

HICON program_icon(int size_metric) {
  const int size = GetSystemMetrics(size_metric);
  return static_cast<HICON>(
      LoadImageW(win32::instance(), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, LR_SHARED));
}

// Copies as much of the text as the field holds, always ending in a NUL.
template <std::size_t N>
void put(wchar_t (&field)[N], const std::string& text) {
  std::wcsncpy(field, win32::widen(text).c_str(), N - 1);
  field[N - 1] = L'\0';
}

// Runs on a thread of the system; the handler is looked up on the UI thread.
void CALLBACK route_changed(PVOID, PMIB_IPFORWARD_ROW2, MIB_NOTIFICATION_TYPE) {
  post_to_ui([] {
    const std::function<void()> fn = g_network_handler;
    win32::invoke(fn);
  });
}

}  // namespace

void notify(const std::string& summary, const std::string& body) {
  win32::ensure_ui();
  NOTIFYICONDATAW data = icon_data();
  data.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE | NIF_INFO;
  data.uCallbackMessage = win32::kNotificationIconMessage;
  data.hIcon = program_icon(SM_CXSMICON);
  data.hBalloonIcon = program_icon(SM_CXICON);
  data.dwInfoFlags = NIIF_USER | NIIF_LARGE_ICON;
  put(data.szTip, application_title());
  put(data.szInfoTitle, summary);
  put(data.szInfo, body);
  // A new balloon on the icon replaces the one before; the icon is added again when it is
  // gone (so is an icon whose notification area was restarted).
  if (!g_icon_shown || !Shell_NotifyIconW(NIM_MODIFY, &data))
    g_icon_shown = Shell_NotifyIconW(NIM_ADD, &data);
}

void on_network_change(std::function<void()> fn) {
  static bool registered = false;
  g_network_handler = std::move(fn);
  if (registered || !g_network_handler) return;
  HANDLE handle = nullptr;
  // IPv4 routes only: the address looked up is IPv4.
  registered = NotifyRouteChange2(AF_INET, route_changed, nullptr, FALSE, &handle) == NO_ERROR;
}

namespace win32 {

void notification_icon_event(UINT event) {
  if (event == NIN_BALLOONTIMEOUT || event == NIN_BALLOONUSERCLICK || event == NIN_BALLOONHIDE)
    remove_notification_icon();
}

void remove_notification_icon() {
  if (!g_icon_shown) return;
  NOTIFYICONDATAW data = icon_data();
  Shell_NotifyIconW(NIM_DELETE, &data);
  g_icon_shown = false;
}

bool notification_icon_shown() {
  return g_icon_shown;
}

}  // namespace win32
}  // namespace platform
