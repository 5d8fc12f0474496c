// Shell links, the start-up folder and the clipboard.
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "platform/platform.h"
#include "startup_shortcut/startup_shortcut.h"

namespace {

std::wstring wide(const std::string& s) {
  std::wstring out(s.size() + 1, L'\0');
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, out.data(), static_cast<int>(out.size()));
  out.resize(n > 0 ? n - 1 : 0);
  return out;
}

// Target and icon of a saved link, read back through IShellLinkW.
struct LinkContents {
  std::wstring target, icon;
  int icon_index = -1;
};

LinkContents read_link(const std::string& path) {
  LinkContents c;
  CoInitialize(nullptr);
  IShellLinkW* link = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&link)))) {
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
      if (SUCCEEDED(file->Load(wide(path).c_str(), STGM_READ))) {
        wchar_t buffer[MAX_PATH] = {};
        if (SUCCEEDED(link->GetPath(buffer, MAX_PATH, nullptr, 0))) c.target = buffer;
        wchar_t icon[MAX_PATH] = {};
        if (SUCCEEDED(link->GetIconLocation(icon, MAX_PATH, &c.icon_index))) c.icon = icon;
      }
      file->Release();
    }
    link->Release();
  }
  CoUninitialize();
  return c;
}

TEST(ShellLink, SavedLinkPointsAtTheExecutableWithItsIcon) {
  const std::string path = platform::temp_directory() + "addrova_link_test.lnk";
  platform::delete_file(path);
  const std::string exe = platform::executable_path();
  ASSERT_TRUE(SaveShellLink(path, "", exe));
  ASSERT_TRUE(platform::file_exists(path));
  const LinkContents c = read_link(path);
  EXPECT_EQ(CompareStringOrdinal(c.target.c_str(), -1, wide(exe).c_str(), -1, TRUE), CSTR_EQUAL);
  EXPECT_EQ(CompareStringOrdinal(c.icon.c_str(), -1, wide(exe).c_str(), -1, TRUE), CSTR_EQUAL);
  EXPECT_EQ(c.icon_index, 0);
  EXPECT_TRUE(platform::delete_file(path));
}

TEST(ShellLink, StepsBeforeCreateReportFailure) {
  platform::ShellLink link;
  EXPECT_FALSE(link.set_path("C:\\x.exe"));
  EXPECT_FALSE(link.save(platform::temp_directory() + "never.lnk"));
  EXPECT_FALSE(platform::file_exists(platform::temp_directory() + "never.lnk"));
}

TEST(StartupShortcut, CreateFindRemoveInTheStartupFolder) {
  std::string folder;
  ASSERT_TRUE(platform::startup_folder(nullptr, folder));
  EXPECT_EQ(platform::path_join(folder, "x.lnk"), folder + "\\x.lnk");
  EXPECT_EQ(platform::path_join("C:\\dir\\", "x.lnk"), "C:\\dir\\x.lnk");
  EXPECT_STREQ(platform::kStartupLinkName, "addrova.lnk");
  const std::string name = "addrova_test_startup.lnk";
  RemoveStartupShortcut(name);
  EXPECT_FALSE(StartupShortcutExists(name));
  SHCreateDirectoryExW(nullptr, wide(folder).c_str(), nullptr);  // absent in a new profile
  ASSERT_TRUE(CreateStartupShortcut(name));
  EXPECT_TRUE(StartupShortcutExists(name));
  EXPECT_TRUE(platform::file_exists(platform::path_join(folder, name)));
  EXPECT_TRUE(RemoveStartupShortcut(name));
  EXPECT_FALSE(StartupShortcutExists(name));
  EXPECT_TRUE(RemoveStartupShortcut(name));  // nothing left to remove is no failure
}

// Another window holds the clipboard open from a second thread, as a clipboard manager
// does, for `ms` milliseconds or until the holder goes.
class ClipboardHolder {
 public:
  explicit ClipboardHolder(DWORD ms = INFINITE)
      : thread_([this, ms] {
          const HWND hwnd = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                            nullptr, nullptr);
          const bool opened = OpenClipboard(hwnd);
          held_ = opened ? 1 : -1;
          if (opened) WaitForSingleObject(release_, ms);
          if (opened) CloseClipboard();
          DestroyWindow(hwnd);
        }) {
    while (held_ == 0) Sleep(1);
    EXPECT_EQ(held_, 1) << "the holder could not open the clipboard";
  }
  ~ClipboardHolder() {
    SetEvent(release_);
    thread_.join();
    CloseHandle(release_);
  }

 private:
  HANDLE release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> held_{0};
  std::thread thread_;
};

TEST(Clipboard, AMomentsHoldIsWaitedOutALongerOneThrowsTheSystemsReason) {
  {
    const ClipboardHolder brief(40);
    platform::clipboard_set_text("192.0.2.7");
  }
  EXPECT_EQ(platform::clipboard_text(), "192.0.2.7");

  const ClipboardHolder holder;
  std::string what = "(copied)";
  try {
    platform::clipboard_set_text("1.2.3.4");
  } catch (const platform::Error& e) {
    what = e.what();
  }
  const std::string head = "クリップボード ", tail = " を開けません";
  ASSERT_GT(what.size(), head.size() + tail.size()) << what;
  EXPECT_EQ(what.substr(0, head.size()), head) << what;
  EXPECT_EQ(what.substr(what.size() - tail.size()), tail) << what;
  // The reason is the system's own text without the full stop and line break it ends in.
  const std::wstring reason =
      wide(what.substr(head.size(), what.size() - head.size() - tail.size()));
  wchar_t* system = nullptr;
  FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, ERROR_ACCESS_DENIED, 0, reinterpret_cast<wchar_t*>(&system), 0, nullptr);
  ASSERT_NE(system, nullptr);
  const std::wstring full = system;
  LocalFree(system);
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(full.rfind(reason, 0), 0u) << what;
  EXPECT_EQ(full.find_first_not_of(L"\u3002. \r\n", reason.size()), std::wstring::npos) << what;
}

}  // namespace
