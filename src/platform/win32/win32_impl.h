// Internals shared by the Windows back end's files. Text is UTF-8 inside the program and
// UTF-16 at every Windows call.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// The rest of the system headers need windows.h before them.
#include <commctrl.h>
#include <commdlg.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <urlmon.h>
#include <winsock2.h>

#include <functional>
#include <string>

#include "platform/invoke.h"
#include "platform/platform.h"

namespace platform {

// One control as the parent window sees it. The parent routes each notification about the
// control's windows (found through a window property) to the virtual functions.
struct Control::Impl {
  virtual ~Impl();
  HWND hwnd = nullptr;     // the control itself
  HWND extra = nullptr;    // a companion: the up-down arrows or the browse button
  HWND tooltip = nullptr;  // the tooltip control of hwnd or extra, if it has one
  std::function<void()> on_click;
  bool hand_cursor = false;

  // WM_COMMAND from `from` (hwnd or extra) with the notification code.
  virtual void command(HWND from, WORD code);
  // WM_NOTIFY; the result goes back to the sender.
  virtual LRESULT notify(const NMHDR& header);
  // WM_DRAWITEM of an owner-drawn control.
  virtual void draw(const DRAWITEMSTRUCT& item);
  // A message to hwnd or extra before their class sees it; true when it was handled and
  // `result` holds the answer.
  virtual bool filter(HWND to, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
};

struct Window::Impl {
  HWND hwnd = nullptr;
  Window::Kind kind = Window::Kind::Main;
  std::function<void()> on_show;
  HWND focus = nullptr;  // the child to focus when the window is next activated
  bool in_modal = false;
  bool end_modal = false;
  bool destroyed = false;
};

namespace win32 {

std::wstring widen(const std::string& utf8);
std::string narrow(const wchar_t* utf16, int length = -1);
inline std::string narrow(const std::wstring& s) {
  return narrow(s.c_str(), static_cast<int>(s.size()));
}
// Between the ANSI code page and UTF-8.
std::string from_ansi(const char* ansi);
std::string to_ansi(const std::string& utf8);
// The system's text for an error code, without the trailing line break, blanks and full
// stop (ASCII or Japanese), so that it reads inside a sentence.
std::string system_message(DWORD code);
// A window's text, as UTF-8.
std::string window_text(HWND hwnd);

// Puts `bytes` in place of the file `target` in one step: written to a new file in the
// same folder, then moved over the target. Where no new file can be made there, an
// existing target is overwritten where it stands and cut to the new length instead. 0 on
// success, else the system's error code; `writing` tells that writing failed rather than
// making, opening or moving a file. The new file is gone again whatever failed.
DWORD replace_file(const std::wstring& target, const std::string& bytes, bool& writing);

using platform::invoke;

HINSTANCE instance();
// Registers the window classes and creates the hidden message window; idempotent.
void ensure_ui();
// The hidden message window that runs hand-offs and timers.
HWND message_window();
Window::Impl* main_window();
// The window a message box belongs to: the active one, else the main window.
HWND owner_window();
// The icon that carries notify's balloon in the notification area: it tells the message
// window of its balloon with this message (the event in lParam), and is removed once the
// balloon is gone and when the message loop ends.
constexpr UINT kNotificationIconMessage = WM_APP + 2;
void notification_icon_event(UINT event);
void remove_notification_icon();
bool notification_icon_shown();
// Pumps messages, running the idle hook whenever the queue is empty, until done() holds.
// False when WM_QUIT arrived (it is posted again for the outer loop).
bool pump_until(const std::function<bool()>& done);

// The layout is made in pixels of a 96 DPI display. On a scaled display (the program is
// DPI-aware) every length is multiplied by the system DPI / 96 when a window is made.
int dpi();
// A length, rounded to the nearest pixel.
int scale(int length);
// A rectangle by its edges, so that controls that meet or keep apart at 96 DPI still do.
Geometry scale(Geometry g);

// Tahoma at the given height (in 96 DPI pixels, scaled), shared by every control that asks
// for it.
HFONT font(int height);
// Width of one line of text in that font, in screen pixels.
int text_width(const std::wstring& text, int font_height = kDefaultFontHeight);
// Makes `tool` (the control or its companion) show the text as its tooltip.
void add_tooltip(Control::Impl& impl, HWND tool, const std::wstring& text);
// Creates the control's window (impl.hwnd) in the parent window, gives it the font and
// connects it to impl. `g` is in screen pixels, already scaled.
HWND create_child(Control::Impl& impl, Window& parent, const wchar_t* window_class,
                  const std::wstring& text, DWORD style, DWORD ex_style, Geometry g,
                  int font_height = kDefaultFontHeight);
// Connects another window (a companion) to impl, as create_child does.
void attach(Control::Impl& impl, HWND hwnd);
Control::Impl* control_of(HWND hwnd);

// A picture resource as a premultiplied 32-bit DIB section, loaded once and scaled to the
// display's DPI; null if missing.
HBITMAP picture(const char* name, SIZE& size);
// Draws the picture centred in the rectangle over what is already there.
void draw_picture(HDC dc, const RECT& r, const char* name, BYTE opacity = 255);

}  // namespace win32
}  // namespace platform
