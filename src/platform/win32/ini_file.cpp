// The settings file through the system's profile functions, one key at a time.
#include "platform/win32/win32_impl.h"

namespace platform {

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

// Asks the system to write its cached profile data; there is nothing to do if it cannot.
IniFile::~IniFile() {
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, win32::widen(path_).c_str());
}

std::string IniFile::read_string(const std::string& section, const std::string& key,
                                 const std::string& def) const {
  wchar_t buffer[2048];
  const DWORD n = GetPrivateProfileStringW(win32::widen(section).c_str(), win32::widen(key).c_str(),
                                           win32::widen(def).c_str(), buffer, 2048,
                                           win32::widen(path_).c_str());
  return win32::narrow(buffer, static_cast<int>(n));
}

void IniFile::write_string(const std::string& section, const std::string& key,
                           const std::string& value) {
  if (!WritePrivateProfileStringW(win32::widen(section).c_str(), win32::widen(key).c_str(),
                                  win32::widen(value).c_str(), win32::widen(path_).c_str()))
    throw Error(path_ + " に書き込めません");
}

}  // namespace platform
