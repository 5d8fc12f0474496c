// Text conversions between the program's UTF-8 and the system's encodings.
#include "platform/win32/win32_impl.h"

namespace platform::win32 {

namespace {

std::wstring to_wide(UINT code_page, const char* s, int length) {
  if (length == 0) return {};
  const int n = MultiByteToWideChar(code_page, 0, s, length, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(code_page, 0, s, length, out.data(), n);
  if (length < 0 && !out.empty()) out.pop_back();  // the terminator was counted
  return out;
}

std::string from_wide(UINT code_page, const wchar_t* s, int length) {
  if (length == 0) return {};
  const int n = WideCharToMultiByte(code_page, 0, s, length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(code_page, 0, s, length, out.data(), n, nullptr, nullptr);
  if (length < 0 && !out.empty()) out.pop_back();
  return out;
}

}  // namespace

std::wstring widen(const std::string& utf8) {
  return to_wide(CP_UTF8, utf8.data(), static_cast<int>(utf8.size()));
}

std::string narrow(const wchar_t* utf16, int length) {
  return from_wide(CP_UTF8, utf16, length);
}

std::string from_ansi(const char* ansi) {
  const std::wstring w = to_wide(CP_ACP, ansi, -1);
  return narrow(w);
}

std::string to_ansi(const std::string& utf8) {
  const std::wstring w = widen(utf8);
  return from_wide(CP_ACP, w.data(), static_cast<int>(w.size()));
}

std::string system_message(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = n && buffer ? std::wstring(buffer, n) : std::wstring();
  if (buffer) LocalFree(buffer);
  // Japanese texts end in an ideographic full stop, often before a line break.
  while (!text.empty() && (text.back() <= L' ' || text.back() == L'.' || text.back() == L'\u3002' ||
                           text.back() == L'\u3000'))
    text.pop_back();
  if (text.empty()) {
    // Appended piece by piece: GCC 12 sees a false overlap in "(" + std::string at -O2.
    std::string number = "(";
    number += std::to_string(code);
    number += ')';
    return number;
  }
  return narrow(text);
}

std::string window_text(HWND hwnd) {
  const int n = GetWindowTextLengthW(hwnd);
  if (n <= 0) return {};
  std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
  const int got = GetWindowTextW(hwnd, text.data(), n + 1);
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return narrow(text);
}

}  // namespace platform::win32
