// The settings file through the system's profile functions, one key at a time.
//
// The profile functions keep a file in the encoding it has: a file in the ANSI code page
// loses every character outside it, e.g. the é of a save path on a Japanese system, and
// the program would later save somewhere else. A file that starts with the UTF-16 byte
// order mark keeps every character. So a new settings file is begun as just that mark,
// and an ANSI file is rewritten in UTF-16 once a value would not survive its code page.
#include <initializer_list>

#include "logic/profile_format.h"
#include "platform/win32/win32_impl.h"

namespace platform {

namespace {

constexpr char kUtf16Mark[] = "\xFF\xFE";

// Whether the text comes back unchanged through the ANSI code page.
bool survives_ansi(const std::string& utf8) {
  const std::wstring wide = win32::widen(utf8);
  if (wide.empty()) return true;
  BOOL used_default = FALSE;
  // A UTF-8 code page takes every character and no default-character flag.
  BOOL* flag = GetACP() == CP_UTF8 ? nullptr : &used_default;
  const int length = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_ACP, flag ? WC_NO_BEST_FIT_CHARS : 0, wide.data(), length,
                                    nullptr, 0, nullptr, flag);
  if (n <= 0 || used_default) return false;
  std::string ansi(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, flag ? WC_NO_BEST_FIT_CHARS : 0, wide.data(), length, ansi.data(), n,
                      nullptr, nullptr);
  return win32::from_ansi(ansi.c_str()) == utf8;
}

// A byte order mark of UTF-16 (either order) or UTF-8: the system keeps such a file in
// Unicode.
bool has_mark(const std::string& bytes) {
  return bytes.rfind(kUtf16Mark, 0) == 0 || bytes.rfind("\xFE\xFF", 0) == 0 ||
         bytes.rfind("\xEF\xBB\xBF", 0) == 0;
}

// The whole file; false when it cannot be opened.
bool read_bytes(const std::wstring& path, std::string& out) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  out.clear();
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) out.append(buffer, got);
  CloseHandle(file);
  return true;
}

void keep_in_unicode_if_needed(const std::wstring& path, std::initializer_list<std::string> texts) {
  std::string bytes;
  if (!read_bytes(path, bytes)) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return;  // the write reports the failure
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, kUtf16Mark, 2, &written, nullptr);
    CloseHandle(file);
    return;
  }
  if (has_mark(bytes)) return;
  bool fits = true;
  for (const std::string& text : texts) fits = fits && survives_ansi(text);
  if (fits) return;

  // Whatever the system still holds for the file goes in first, then the file is read
  // again and rewritten, its lines as they were.
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());
  if (!read_bytes(path, bytes) || has_mark(bytes)) return;
  std::wstring wide;
  if (!bytes.empty()) {
    const int n =
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return;
    wide.assign(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
  }
  std::string unicode(kUtf16Mark, 2);
  unicode.append(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
  bool writing = false;
  win32::replace_file(path, unicode, writing);
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

// Asks the system to write its cached profile data; there is nothing to do if it cannot.
IniFile::~IniFile() {
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, win32::widen(path_).c_str());
}

std::string IniFile::read_string(const std::string& section, const std::string& key,
                                 const std::string& def) const {
  const std::wstring wide_section = win32::widen(section), wide_key = win32::widen(key),
                     wide_def = win32::widen(def), wide_path = win32::widen(path_);
  // A value that does not fit is cut, and the count is then the buffer's size less one: the
  // buffer grows until the value fits. No value is longer than the longest file read.
  std::wstring buffer(2048, L'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD n =
        GetPrivateProfileStringW(wide_section.c_str(), wide_key.c_str(), wide_def.c_str(),
                                 buffer.data(), size, wide_path.c_str());
    if (n + 1 < size || size >= profile::kMaxFileBytes)
      return win32::narrow(buffer.data(), static_cast<int>(n));
    buffer.resize(buffer.size() * 2);
  }
}

void IniFile::write_string(const std::string& section, const std::string& key,
                           const std::string& value) {
  keep_in_unicode_if_needed(win32::widen(path_), {section, key, value});
  if (!WritePrivateProfileStringW(win32::widen(section).c_str(), win32::widen(key).c_str(),
                                  win32::widen(value).c_str(), win32::widen(path_).c_str()))
    throw Error(path_ + " に書き込めません");
}

}  // namespace platform
