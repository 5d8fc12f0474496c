#include <cstring>

#include "platform/win32/win32_impl.h"

namespace platform {

namespace {

// The clipboard is opened on behalf of the hidden message window.
void open_clipboard() {
  if (!OpenClipboard(win32::message_window()))
    throw Error("クリップボード " + win32::system_message(GetLastError()) + " を開けません");
}

}  // namespace

void clipboard_set_text(const std::string& text) {
  const std::wstring wide = win32::widen(text);
  open_clipboard();
  EmptyClipboard();
  const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
  if (HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    if (void* p = GlobalLock(mem)) {
      std::memcpy(p, wide.c_str(), bytes);
      GlobalUnlock(mem);
      // The system owns the memory once it took it.
      if (!SetClipboardData(CF_UNICODETEXT, mem)) GlobalFree(mem);
    } else {
      GlobalFree(mem);
    }
  }
  CloseClipboard();
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
