#include <cstring>

#include "platform/win32/win32_impl.h"

namespace platform {

namespace {

[[noreturn]] void clipboard_error(DWORD code) {
  throw Error("クリップボード " + win32::system_message(code) + " を開けません");
}

// The clipboard is opened on behalf of the hidden message window. Another program, a
// clipboard manager say, may hold it for a moment: ten short waits let it finish.
void open_clipboard() {
  for (int wait = 0;; ++wait) {
    if (OpenClipboard(win32::message_window())) return;
    if (wait == 10) clipboard_error(GetLastError());
    Sleep(10);
  }
}

}  // namespace

void clipboard_set_text(const std::string& text) {
  const std::wstring wide = win32::widen(text);
  const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
  open_clipboard();
  EmptyClipboard();
  const HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes);
  void* p = mem ? GlobalLock(mem) : nullptr;
  if (p) {
    std::memcpy(p, wide.c_str(), bytes);
    GlobalUnlock(mem);
  }
  // The system owns the memory once it took it.
  const bool taken = p && SetClipboardData(CF_UNICODETEXT, mem);
  const DWORD error = taken ? 0 : GetLastError();
  if (!taken && mem) GlobalFree(mem);
  CloseClipboard();
  if (!taken) clipboard_error(error);
}

std::string clipboard_text() {
  open_clipboard();
  std::string text;
  if (HANDLE mem = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* p = static_cast<const wchar_t*>(GlobalLock(mem))) {
      text = win32::narrow(p);
      GlobalUnlock(mem);
    }
  }
  CloseClipboard();
  return text;
}

}  // namespace platform
