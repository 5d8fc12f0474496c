// Files: the temporary directory, existence, deletion, reading a prefix and the save file.
#include "platform/win32/win32_impl.h"

namespace platform {

std::string temp_directory() {
  wchar_t buffer[256];
  const DWORD n = GetTempPathW(256, buffer);
  if (n == 0 || n >= 256) return {};
  return win32::narrow(buffer, static_cast<int>(n));
}

bool file_exists(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(win32::widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool delete_file(const std::string& path) {
  return DeleteFileW(win32::widen(path).c_str());
}

bool read_file_prefix(const std::string& path, std::size_t max_bytes, std::string& out) {
  const HANDLE file = CreateFileW(win32::widen(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  out.assign(max_bytes, '\0');
  std::size_t have = 0;
  while (have < max_bytes) {
    DWORD got = 0;
    if (!ReadFile(file, out.data() + have, static_cast<DWORD>(max_bytes - have), &got, nullptr) ||
        got == 0)
      break;
    have += got;
  }
  out.resize(have);
  CloseHandle(file);
  return true;
}

void save_text_line(const std::string& path, const std::string& text) {
  const HANDLE file = CreateFileW(win32::widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    throw Error("ファイル \"" + path + "\" を作成できません。" +
                win32::system_message(GetLastError()));
  const std::string bytes = win32::to_ansi(text + "\r\n");
  DWORD written = 0;
  const bool ok =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size();
  const DWORD error = ok ? 0 : GetLastError();
  CloseHandle(file);
  if (!ok)
    throw Error("ファイル \"" + path + "\" に書き込めません。" + win32::system_message(error));
}

}  // namespace platform
