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

// The system numbers the name and creates the file only where none stood, so that two
// callers never get the same one. It takes the stem's first three characters.
std::string create_unique_file(const std::string& dir, const std::string& stem) {
  wchar_t name[MAX_PATH];
  if (!GetTempFileNameW(win32::widen(dir).c_str(), win32::widen(stem.substr(0, 3)).c_str(), 0,
                        name))
    return {};
  return win32::narrow(name);
}

bool move_file(const std::string& from, const std::string& to) {
  return MoveFileExW(win32::widen(from).c_str(), win32::widen(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING);
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

namespace {

[[noreturn]] void cannot_create(const std::string& path, DWORD error) {
  throw Error("ファイル \"" + path + "\" を作成できません。" + win32::system_message(error));
}

bool starts_with(const std::wstring& s, const wchar_t* prefix) {
  return s.rfind(prefix, 0) == 0;
}

// The file the save path stands for: a regular file, or none yet. A link is followed to
// its target. Devices, pipes, directories and \\.\ names are refused without opening
// them for reading or writing, which could wait on the device.
std::wstring save_target(const std::string& path) {
  const std::wstring wide = win32::widen(path);
  wchar_t full[MAX_PATH * 4];
  const DWORD n = GetFullPathNameW(wide.c_str(), MAX_PATH * 4, full, nullptr);
  if (n == 0 || n >= MAX_PATH * 4)
    cannot_create(path, n ? ERROR_FILENAME_EXCED_RANGE : GetLastError());
  // Device names such as NUL or COM1 come back as \\.\NUL or \\.\COM1.
  if (starts_with(full, L"\\\\.\\")) cannot_create(path, ERROR_INVALID_NAME);

  const HANDLE file = CreateFileW(full, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return full;
    cannot_create(path, error);
  }
  BY_HANDLE_FILE_INFORMATION info;
  const DWORD type = GetFileType(file);
  DWORD error = 0;
  std::wstring target(MAX_PATH * 4, L'\0');
  if (type != FILE_TYPE_DISK) {
    error = ERROR_INVALID_NAME;
  } else if (!GetFileInformationByHandle(file, &info)) {
    error = GetLastError();
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    error = ERROR_ACCESS_DENIED;  // what the system says to a file created over a folder
  } else {
    const DWORD got = GetFinalPathNameByHandleW(file, target.data(), MAX_PATH * 4, 0);
    if (got == 0 || got >= MAX_PATH * 4)
      target = full;
    else
      target.resize(got);
  }
  CloseHandle(file);
  if (error) cannot_create(path, error);
  // \\?\C:\… as a plain path, for the functions that do not take the long form.
  if (starts_with(target, L"\\\\?\\") && target.size() > 6 && target[5] == L':') target.erase(0, 4);
  return target;
}

// Writes all of bytes at the file's position: 0, or the system's error code.
DWORD write_all(HANDLE file, const std::string& bytes) {
  DWORD written = 0;
  if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
    return GetLastError();
  return written == bytes.size() ? 0 : ERROR_DISK_FULL;
}

// Overwrites the start of an existing file and then cuts it to the new length, so that it
// never stands empty; only its old tail may show for a moment after shorter content. For
// a file whose folder takes no new file beside it. Readers are not locked out meanwhile.
// 0, or the system's error code; writing tells whether the file had been opened.
DWORD rewrite_in_place(const std::wstring& target, const std::string& bytes, bool& writing) {
  const HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD error = ERROR_INVALID_NAME;  // whatever took the file's place meanwhile is no file
  if (GetFileType(file) == FILE_TYPE_DISK) {
    writing = true;
    error = write_all(file, bytes);
    if (!error && !SetEndOfFile(file)) error = GetLastError();
  }
  CloseHandle(file);
  return error;
}

}  // namespace

// The new line goes to a new file beside the old one, which then takes the old one's
// place in one step (replace_file): a reader sees the old line or the new one, never an
// empty or half written file, and a failure at any point leaves the old line. Where the
// folder takes no new file, the old one is rewritten in place (rewrite_in_place).
void save_text_line(const std::string& path, const std::string& text) {
  bool writing = false;
  const DWORD error =
      win32::replace_file(save_target(path), win32::to_ansi(text + "\r\n"), writing);
  if (error && writing)
    throw Error("ファイル \"" + path + "\" に書き込めません。" + win32::system_message(error));
  if (error) cannot_create(path, error);
}

namespace win32 {

DWORD replace_file(const std::wstring& target, const std::string& bytes, bool& writing) {
  writing = false;
  const std::size_t slash = target.find_last_of(L"\\/");
  const std::wstring dir = slash == std::wstring::npos ? L"." : target.substr(0, slash + 1);
  wchar_t temp[MAX_PATH];
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD error = 0;
  if (!GetTempFileNameW(dir.c_str(), L"adr", 0, temp)) {
    error = GetLastError();
  } else if ((file = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr)) == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    DeleteFileW(temp);
  }
  if (file == INVALID_HANDLE_VALUE) {
    // The folder takes no new file (the user may write the file but not the folder): an
    // existing file is rewritten where it stands instead.
    const DWORD in_place = rewrite_in_place(target, bytes, writing);
    return in_place == ERROR_FILE_NOT_FOUND || in_place == ERROR_PATH_NOT_FOUND ? error : in_place;
  }
  error = write_all(file, bytes);
  if (!error && !FlushFileBuffers(file)) error = GetLastError();
  CloseHandle(file);
  if (error) {
    DeleteFileW(temp);
    writing = true;
    return error;
  }
  // The system refuses to replace a file while anyone has it open, even only to read it
  // for a moment; a few short tries let such a reader finish.
  DWORD move_error = 0;
  for (int attempt = 0; attempt < 25; ++attempt) {
    if (MoveFileExW(temp, target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return 0;
    move_error = GetLastError();
    if (move_error != ERROR_ACCESS_DENIED && move_error != ERROR_SHARING_VIOLATION) break;
    Sleep(20);
  }
  DeleteFileW(temp);
  return move_error;
}

}  // namespace win32

}  // namespace platform
