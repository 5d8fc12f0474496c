// The save file and the profile file through the Windows calls.
#include <gtest/gtest.h>
#include <windows.h>

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

TEST(SaveTextLine, WritesAnsiTextAndCrLfReplacingOldContent) {
  const std::string path = temp_path("addrova_save_test.txt");
  platform::save_text_line(path, "old content that is longer than the new one");
  platform::save_text_line(path, "127.0.0.1");
  EXPECT_EQ(read_all(path), "127.0.0.1\r\n");

  platform::save_text_line(path, "取得エラー");
  const std::string bytes = read_all(path);
  EXPECT_EQ(bytes, ansi(L"取得エラー") + "\r\n");
  if (GetACP() == 932) {
    EXPECT_EQ(bytes, "\x8e\xe6\x93\xbe\x83\x47\x83\x89\x81\x5b\r\n");
  }
  EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");  // no byte-order mark
  platform::delete_file(path);
}

TEST(SaveTextLine, FailureNamesThePathAndTheSystemReason) {
  const std::string path = temp_path("no_such_folder_addrova\\out.txt");
  try {
    platform::save_text_line(path, "127.0.0.1");
    FAIL() << "saved into a missing folder";
  } catch (const platform::Error& e) {
    const std::string what = e.what();
    const std::string head = "ファイル \"" + path + "\" を作成できません。";
    ASSERT_EQ(what.substr(0, head.size()), head);
    EXPECT_GT(what.size(), head.size());  // the system's reason follows
  }
}

TEST(SaveTextLine, FileNamesOutsideTheAnsiCodePage) {
  const std::string path = temp_path("addrova_保存_ℵ.txt");
  platform::save_text_line(path, "1.2.3.4");
  EXPECT_TRUE(platform::file_exists(path));
  EXPECT_EQ(read_all(path), "1.2.3.4\r\n");
  EXPECT_TRUE(platform::delete_file(path));
}

TEST(Files, TempDirectoryAndExistence) {
  const std::string dir = platform::temp_directory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '\\');
  EXPECT_FALSE(platform::file_exists(dir.substr(0, dir.size() - 1)));  // a directory
  EXPECT_FALSE(platform::file_exists(dir + "addrova_missing.txt"));
  EXPECT_FALSE(platform::delete_file(dir + "addrova_missing.txt"));
}

class ProfileTest : public testing::Test {
 protected:
  void SetUp() override { platform::delete_file(path_); }
  void TearDown() override { platform::delete_file(path_); }
  const std::string path_ = temp_path("addrova_profile_test.ini");
};

TEST_F(ProfileTest, RoundTripOfStringsAndIntegers) {
  {
    platform::IniFile ini(path_);
    ini.write_string("SETTING", "FILEPATH", "Z:\\tmp\\取得 結果.txt");
    ini.write_integer("SETTING", "TIMER_SEC", 120);
    ini.write_integer("SETTING", "TIMER", 0);
  }
  platform::IniFile ini(path_);
  EXPECT_EQ(ini.read_string("SETTING", "FILEPATH", ""), "Z:\\tmp\\取得 結果.txt");
  EXPECT_EQ(ini.read_integer("SETTING", "TIMER_SEC", 5), 120);
  EXPECT_EQ(ini.read_integer("SETTING", "TIMER", 1), 0);
  EXPECT_EQ(ini.read_string("SETTING", "MISSING", "def"), "def");
  EXPECT_EQ(ini.read_integer("OTHER", "TIMER_SEC", 5), 5);
  // Overwriting a key keeps one line for it.
  ini.write_integer("SETTING", "TIMER_SEC", 7);
  EXPECT_EQ(ini.read_integer("SETTING", "TIMER_SEC", 5), 7);
}

TEST_F(ProfileTest, IntegersAsTheSettingsFileHoldsThem) {
  platform::save_text_line(path_, "[SETTING]\r\nTIMER_SEC=0x1F\r\nTIMER=7\r\nA=$10\r\nB=12abc");
  platform::IniFile ini(path_);
  EXPECT_EQ(ini.read_integer("SETTING", "TIMER_SEC", 5), 31);
  EXPECT_EQ(ini.read_integer("SETTING", "TIMER", 0), 7);
  EXPECT_EQ(ini.read_integer("SETTING", "A", 0), 16);
  EXPECT_EQ(ini.read_integer("SETTING", "B", 5), 5);
}

TEST_F(ProfileTest, LongValuesAreCutAtTheBuffer) {
  const std::string value(3000, 'x');
  platform::IniFile ini(path_);
  ini.write_string("SETTING", "FILEPATH", value);
  EXPECT_EQ(ini.read_string("SETTING", "FILEPATH", ""), value.substr(0, 2047));
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
