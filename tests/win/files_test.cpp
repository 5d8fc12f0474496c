// The save file and the profile file through the Windows calls.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "contract/contract.h"
#include "platform/platform.h"

namespace {

std::string temp_path(const std::string& name) {
  return platform::temp_directory() + name;
}

std::string read_all(const std::string& path) {
  std::string bytes;
  EXPECT_TRUE(platform::read_file_prefix(path, 1 << 16, bytes));
  return bytes;
}

// The text in the ANSI code page, as the system converts it.
std::string ansi(const wchar_t* text) {
  char buffer[256];
  const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof(buffer), nullptr, nullptr);
  return std::string(buffer, n > 0 ? n - 1 : 0);
}

// Plain text and the replacing are in the contract suite (ContractSaveLine).
TEST(SaveTextLine, WritesAnsiText) {
  const std::string path = temp_path("addrova_save_test.txt");
  platform::save_text_line(path, "取得エラー");
  const std::string bytes = read_all(path);
  EXPECT_EQ(bytes, ansi(L"取得エラー") + "\r\n");
  if (GetACP() == 932) {
    EXPECT_EQ(bytes, "\x8e\xe6\x93\xbe\x83\x47\x83\x89\x81\x5b\r\n");
  }
  EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");  // no byte-order mark
  platform::delete_file(path);
}

TEST(SaveTextLine, FileNamesOutsideTheAnsiCodePage) {
  const std::string path = temp_path("addrova_保存_ℵ.txt");
  platform::save_text_line(path, "1.2.3.4");
  EXPECT_TRUE(platform::file_exists(path));
  EXPECT_EQ(read_all(path), "1.2.3.4\r\n");
  EXPECT_TRUE(platform::delete_file(path));
}

// The message for a path that is no file to save into, and no waiting for it.
void expect_refused(const std::string& path) {
  const DWORD start = GetTickCount();
  try {
    platform::save_text_line(path, "127.0.0.1");
    ADD_FAILURE() << "saved into " << path;
  } catch (const platform::Error& e) {
    const std::string what = e.what();
    const std::string head = "ファイル \"" + path + "\" を作成できません。";
    EXPECT_EQ(what.substr(0, head.size()), head);
    EXPECT_GT(what.size(), head.size()) << path;
  }
  EXPECT_LT(GetTickCount() - start, 2000u) << path;
}

// A folder of its own for a test, so that whatever a save leaves beside its file shows.
class SaveFolder : public testing::Test {
 protected:
  void SetUp() override {
    remove_all();
    ASSERT_TRUE(CreateDirectoryW(wide(dir_).c_str(), nullptr));
  }
  void TearDown() override { remove_all(); }
  static std::wstring wide(const std::string& s) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
  }
  std::vector<std::wstring> names() const {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    const HANDLE h = FindFirstFileW((wide(dir_) + L"*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return found;
    do {
      if (wcscmp(data.cFileName, L".") && wcscmp(data.cFileName, L".."))
        found.push_back(data.cFileName);
    } while (FindNextFileW(h, &data));
    FindClose(h);
    return found;
  }
  void remove_all() {
    for (const std::wstring& name : names()) {
      const std::wstring p = wide(dir_) + name;
      SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!DeleteFileW(p.c_str())) RemoveDirectoryW(p.c_str());
    }
    RemoveDirectoryW(wide(dir_).c_str());
  }
  const std::string dir_ = temp_path("addrova_save_folder\\");
  const std::string path_ = dir_ + "ip.txt";
};

TEST_F(SaveFolder, FoldersDevicesAndPipesAreRefusedAtOnce) {
  expect_refused(dir_.substr(0, dir_.size() - 1));
  expect_refused(dir_);
  for (const char* device :
       {"NUL", "CON", "COM1", "\\\\.\\NUL", "\\\\.\\COM1", "\\\\.\\pipe\\addrova_no_such_pipe"})
    expect_refused(device);
  expect_refused(dir_ + "COM1");
  EXPECT_TRUE(names().empty());
}

TEST_F(SaveFolder, OnlyTheFileIsLeftAfterSavesAndFailures) {
  platform::save_text_line(path_, "192.0.2.1");
  platform::save_text_line(path_, "192.0.2.2");
  expect_refused(dir_ + "missing\\ip.txt");
  EXPECT_EQ(names(), std::vector<std::wstring>{L"ip.txt"});
  EXPECT_EQ(read_all(path_), "192.0.2.2\r\n");
}

TEST_F(SaveFolder, OldLineStaysWhenTheNewFileCannotTakeItsPlace) {
  platform::save_text_line(path_, "192.0.2.1");
  // Open without leave to delete or rename, as some readers keep a file.
  const HANDLE reader = CreateFileW(wide(path_).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  bool threw = false;
  try {
    platform::save_text_line(path_, "192.0.2.2");
  } catch (const platform::Error& e) {
    threw = true;
  }
  CloseHandle(reader);
  if (!threw) GTEST_SKIP() << "the system replaced a file held open without sharing";
  EXPECT_EQ(read_all(path_), "192.0.2.1\r\n");
  EXPECT_EQ(names(), std::vector<std::wstring>{L"ip.txt"});
}

TEST_F(SaveFolder, LinkIsFollowedAndItsTargetReplaced) {
  const std::string target = dir_ + "target.txt";
  platform::save_text_line(target, "192.0.2.1");
  // Wine 8 answers TRUE and makes no link.
  if (!CreateSymbolicLinkW(wide(path_).c_str(), wide(target).c_str(), 0) ||
      GetFileAttributesW(wide(path_).c_str()) == INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "no symbolic links here";
  platform::save_text_line(path_, "192.0.2.9");
  EXPECT_EQ(read_all(target), "192.0.2.9\r\n");
  const DWORD attributes = GetFileAttributesW(wide(path_).c_str());
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT) << "the link itself was replaced";
}

class ProfileTest : public testing::Test {
 protected:
  void SetUp() override { platform::delete_file(path_); }
  void TearDown() override { platform::delete_file(path_); }
  const std::string path_ = temp_path("addrova_profile_test.ini");
};

TEST_F(ProfileTest, IntegersAsTheSettingsFileHoldsThem) {
  platform::save_text_line(path_, "[SETTING]\r\nTIMER_SEC=0x1F\r\nTIMER=7\r\nA=$10\r\nB=12abc");
  platform::IniFile ini(path_);
  EXPECT_EQ(ini.read_integer("SETTING", "TIMER_SEC", 5), 31);
  EXPECT_EQ(ini.read_integer("SETTING", "TIMER", 0), 7);
  EXPECT_EQ(ini.read_integer("SETTING", "A", 0), 16);
  EXPECT_EQ(ini.read_integer("SETTING", "B", 5), 5);
}

// é is outside code page 932, 日本 outside 1252: one of them is outside any ANSI code
// page the tests run under.
constexpr char kForeignPath[] = "C:\\Tools\\résumé 日本.txt";

std::string raw(const std::string& path) {
  std::string bytes;
  EXPECT_TRUE(platform::read_file_prefix(path, 1 << 16, bytes));
  return bytes;
}

std::wstring as_utf16(const std::string& bytes) {
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
}

TEST_F(ProfileTest, NewFileIsUnicodeAndKeepsCharactersOutsideTheCodePage) {
  platform::IniFile(path_).write_string("SETTING", "FILEPATH", kForeignPath);
  EXPECT_EQ(platform::IniFile(path_).read_string("SETTING", "FILEPATH", ""), kForeignPath);
  EXPECT_EQ(raw(path_).substr(0, 2), "\xFF\xFE");
}

TEST_F(ProfileTest, AnsiFileStaysAnsiWhileItsCodePageHoldsTheValues) {
  platform::save_text_line(path_, "[SETTING]\r\nTIMER=1");
  {
    platform::IniFile ini(path_);
    ini.write_integer("SETTING", "TIMER_SEC", 12);
    ini.write_string("SETTING", "FILEPATH", "C:\\out\\ip.txt");
  }
  const std::string bytes = raw(path_);
  EXPECT_NE(bytes.substr(0, 2), "\xFF\xFE");
  EXPECT_NE(bytes.find("TIMER_SEC=12"), std::string::npos);
  EXPECT_NE(bytes.find("TIMER=1"), std::string::npos);
}

TEST_F(ProfileTest, AnsiFileBecomesUnicodeForAValueOutsideItsCodePageKeepingItsLines) {
  // A line in the code page beyond ASCII, read as the code page when converted.
  const std::string local = GetACP() == 932 ? "取得" : "Grüße";
  platform::save_text_line(path_,
                           "; kept\r\n[OTHER]\r\nNAME=" + local + "\r\n[SETTING]\r\nTIMER=1");
  platform::IniFile(path_).write_string("SETTING", "FILEPATH", kForeignPath);

  platform::IniFile ini(path_);
  EXPECT_EQ(ini.read_string("SETTING", "FILEPATH", ""), kForeignPath);
  EXPECT_EQ(ini.read_string("OTHER", "NAME", ""), local);
  EXPECT_EQ(ini.read_integer("SETTING", "TIMER", 0), 1);
  const std::string bytes = raw(path_);
  ASSERT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(as_utf16(bytes.substr(2)).rfind(L"; kept\r\n", 0), 0u);
}

// Where the folder takes no new file the system still writes the profile in place, and
// the file must still turn Unicode, or the value loses its characters.
TEST_F(ProfileTest, AnsiFileInAFolderThatTakesNoNewFileStillBecomesUnicode) {
  contract::SealedFolder folder;
  const std::string path = folder.path("Addrova.ini");
  platform::save_text_line(path, "[SETTING]\r\nTIMER=1");
  if (!folder.seal()) GTEST_SKIP() << folder.why_not();
  platform::IniFile(path).write_string("SETTING", "FILEPATH", kForeignPath);
  platform::IniFile ini(path);
  EXPECT_EQ(ini.read_string("SETTING", "FILEPATH", ""), kForeignPath);
  EXPECT_EQ(ini.read_integer("SETTING", "TIMER", 0), 1);
  EXPECT_EQ(raw(path).substr(0, 2), "\xFF\xFE");
}

TEST_F(ProfileTest, UnicodeFileIsLeftAsItIs) {
  platform::IniFile(path_).write_string("SETTING", "FILEPATH", kForeignPath);
  platform::IniFile(path_).write_integer("SETTING", "TIMER", 1);
  platform::IniFile ini(path_);
  EXPECT_EQ(ini.read_string("SETTING", "FILEPATH", ""), kForeignPath);
  EXPECT_EQ(ini.read_integer("SETTING", "TIMER", 0), 1);
  EXPECT_EQ(raw(path_).substr(0, 2), "\xFF\xFE");
}

TEST_F(ProfileTest, RefusedWriteThrows) {
  const std::string path = temp_path("no_such_folder_addrova\\Addrova.ini");
  try {
    platform::IniFile(path).write_string("SETTING", "TIMER", "1");
    FAIL() << "wrote into a missing folder";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.what(), path + " に書き込めません");
  }
}

}  // namespace
