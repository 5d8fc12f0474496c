// The shell: opening a URL, the start-up folder and shell links.

#include "platform/win32/win32_impl.h"

namespace platform {

const char* const kStartupLinkName = "addrova.lnk";

void open_url(Window& owner, const std::string& url) {
  ShellExecuteW(owner.impl().hwnd, L"open", win32::widen(url).c_str(), nullptr, nullptr, SW_SHOW);
}

bool startup_folder(Window* owner, std::string& path) {
  LPITEMIDLIST list = nullptr;
  if (FAILED(
          SHGetSpecialFolderLocation(owner ? owner->impl().hwnd : nullptr, CSIDL_STARTUP, &list)) ||
      !list)
    return false;
  wchar_t buffer[MAX_PATH];
  const bool found = SHGetPathFromIDListW(list, buffer);
  CoTaskMemFree(list);
  if (!found) return false;
  path = win32::narrow(buffer);
  return true;
}

std::string path_join(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir.back() == '\\' || dir.back() == '/') return dir + name;
  return dir + "\\" + name;
}

struct ShellLink::Impl {
  bool com = false;
  IShellLinkW* link = nullptr;
  IPersistFile* file = nullptr;
};

ShellLink::ShellLink() : impl_(std::make_unique<Impl>()) {
  impl_->com = SUCCEEDED(CoInitialize(nullptr));
}

ShellLink::~ShellLink() {
  if (impl_->file) impl_->file->Release();
  if (impl_->link) impl_->link->Release();
  if (impl_->com) CoUninitialize();
}

bool ShellLink::create() {
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&impl_->link))) ||
      !impl_->link)
    return false;
  if (FAILED(
          impl_->link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&impl_->file)))) {
    impl_->file = nullptr;
    impl_->link->Release();
    impl_->link = nullptr;
    return false;
  }
  return true;
}

bool ShellLink::set_path(const std::string& target) {
  return impl_->link && SUCCEEDED(impl_->link->SetPath(win32::widen(target).c_str()));
}

bool ShellLink::set_description(const std::string& description) {
  return impl_->link && SUCCEEDED(impl_->link->SetDescription(win32::widen(description).c_str()));
}

bool ShellLink::set_icon_location(const std::string& file, int index) {
  return impl_->link && SUCCEEDED(impl_->link->SetIconLocation(win32::widen(file).c_str(), index));
}

bool ShellLink::save(const std::string& link_path) {
  return impl_->file && SUCCEEDED(impl_->file->Save(win32::widen(link_path).c_str(), TRUE));
}

}  // namespace platform
