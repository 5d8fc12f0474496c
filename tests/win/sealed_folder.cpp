// contract::SealedFolder on Windows, under Wine. Wine runs these tests as root and keeps
// no access lists of its own on files, so no Windows means can close a folder to root;
// the folder is made immutable on the host instead, by running its chattr. Wine starts a
// host program but gives no handle to wait on it, so the effect itself is awaited.
#include <windows.h>

#include "contract/contract.h"

namespace contract {

namespace {

std::wstring wide(const std::string& s) {
  std::wstring out(s.size() + 1, L'\0');
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, out.data(), static_cast<int>(out.size()));
  out.resize(n > 0 ? static_cast<std::size_t>(n) - 1 : 0);
  return out;
}

// Whether a new file can be made in the folder now; the probe goes again.
bool takes_new_files(const std::string& dir) {
  const std::wstring probe = wide(platform::path_join(dir, "probe"));
  const HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return true;
  }
  // A probe that the seal overtook before it could go is removed once the folder is open.
  return GetLastError() == ERROR_FILE_EXISTS && DeleteFileW(probe.c_str());
}

// Runs the host's `chattr FLAG DIR` and waits up to fifteen seconds (a loaded machine
// starts host programs from Wine slowly) until the folder takes new files, or takes none;
// an empty text, or why not. `ran` tells whether it was started.
std::string chattr(const std::string& dir, const wchar_t* flag, bool takes, bool& ran) {
  constexpr wchar_t kChattr[] = L"Z:\\usr\\bin\\chattr";
  using UnixName = char*(CDECL*)(const wchar_t*);
  const auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!unix_name) return "not under Wine, where the test closes a folder with chattr";
  if (GetFileAttributesW(kChattr) == INVALID_FILE_ATTRIBUTES) return "no /usr/bin/chattr";
  char* host_dir = unix_name(wide(dir).c_str());
  if (!host_dir) return "no host path for " + dir;
  std::wstring command = std::wstring(kChattr) + L" " + flag + L" \"" + wide(host_dir) + L"\"";
  HeapFree(GetProcessHeap(), 0, host_dir);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(kChattr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return "cannot run chattr";
  ran = true;
  if (process.hProcess) CloseHandle(process.hProcess);
  if (process.hThread) CloseHandle(process.hThread);
  for (int i = 0; i < 1500; ++i) {
    if (takes_new_files(dir) == takes) return {};
    Sleep(10);
  }
  return "chattr had no effect on " + dir;
}

}  // namespace

SealedFolder::SealedFolder() {
  const std::string dir = platform::temp_directory() + "addrova_contract_sealed_" + unique();
  if (CreateDirectoryW(wide(dir).c_str(), nullptr)) dir_ = dir;
  EXPECT_FALSE(dir_.empty()) << "cannot make " << dir;
}

SealedFolder::~SealedFolder() {
  if (dir_.empty()) return;
  if (sealed_) {
    bool ran = false;
    const std::string error = chattr(dir_, L"-i", true, ran);
    EXPECT_EQ(error, "") << "the folder may stay closed: chattr -i it by hand";
  }
  WIN32_FIND_DATAW found;
  const HANDLE find = FindFirstFileW(wide(path("*")).c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        DeleteFileW((wide(dir_) + L"\\" + found.cFileName).c_str());
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  RemoveDirectoryW(wide(dir_).c_str());
}

bool SealedFolder::seal() {
  if (dir_.empty()) return false;
  // Opened again at the end once chattr ran, even if it seemed to fail: it may be late.
  why_not_ = chattr(dir_, L"+i", false, sealed_);
  if (!why_not_.empty()) why_not_ = "cannot seal a folder here: " + why_not_;
  return why_not_.empty();
}

}  // namespace contract
