// The files the program keeps: the saved line, the profile file and the temporary folder.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "contract.h"

namespace {

using contract::read_all;
using contract::TempFile;

// ---- the saved line ----------------------------------------------------------------

TEST(ContractSaveLine, WritesTheTextAndCrLfReplacingWhatWasThere) {
  TempFile file("save");
  platform::save_text_line(file.path(), "old content that is longer than the new one");
  platform::save_text_line(file.path(), "127.0.0.1");
  EXPECT_EQ(read_all(file.path()), "127.0.0.1\r\n");
  platform::save_text_line(file.path(), "");
  EXPECT_EQ(read_all(file.path()), "\r\n");
}

// What saving the line into the path threw; "(saved)" when nothing did.
std::string refusal(const std::string& path) {
  try {
    platform::save_text_line(path, "127.0.0.1");
  } catch (const platform::Error& e) {
    return e.what();
  }
  return "(saved)";
}

// The message names the path, and the system's reason follows, worded to end the
// sentence: no full stop or line break of its own.
void expect_cannot_create(const std::string& path) {
  const std::string what = refusal(path);
  const std::string head = "ファイル \"" + path + "\" を作成できません。";
  EXPECT_EQ(what.substr(0, head.size()), head);
  EXPECT_GT(what.size(), head.size()) << "the system's reason follows";
  for (const char* end : {"。", ".", "\n", "\r", " "})
    EXPECT_FALSE(what.ends_with(end)) << "\"" << what << "\"";
}

TEST(ContractSaveLine, AFolderOrAMissingFolderIsRefusedWithTheCreateMessage) {
  const std::string dir = platform::temp_directory();
  for (const std::string& path : {dir, dir.substr(0, dir.size() - 1)}) expect_cannot_create(path);
  EXPECT_FALSE(platform::file_exists(dir.substr(0, dir.size() - 1)));
  // A folder that is not there, and a path longer than the system takes.
  expect_cannot_create(platform::path_join(dir + "no_such_folder_addrova", "out.txt"));
  expect_cannot_create(dir + "addrova_contract_" + std::string(5000, 'x') + ".txt");
}

// A file the user may write, in a folder that takes nothing new: with no room for the new
// line beside it, the file is rewritten where it stands and cut to the new line's length.
TEST(ContractSaveLine, AFileInAFolderThatTakesNothingNewIsRewrittenInPlace) {
  contract::SealedFolder folder;
  const std::string file = folder.path("ip.txt");
  platform::save_text_line(file, "old content that is longer than the new one");
  if (!folder.seal()) GTEST_SKIP() << folder.why_not();
  platform::save_text_line(file, "192.0.2.1");
  EXPECT_EQ(read_all(file), "192.0.2.1\r\n");
  expect_cannot_create(folder.path("new.txt"));
  EXPECT_FALSE(platform::file_exists(folder.path("new.txt")));
}

// The new line takes the old one's place whole: a reader sees one line or the other, never
// an empty or partial file. (A read may fail while the file is being replaced.)
TEST(ContractSaveLine, AReaderNeverSeesAnEmptyOrPartialFile) {
  TempFile file("atomic");
  const std::string a = "192.0.2.1", b = "198.51.100.200";
  platform::save_text_line(file.path(), a);
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, torn{0};
  std::string example;
  std::thread reader([&] {
    while (!done) {
      std::string bytes;
      if (platform::read_file_prefix(file.path(), 100, bytes)) {
        ++reads;
        if (bytes != a + "\r\n" && bytes != b + "\r\n" && torn++ == 0) example = bytes;
      }
      // Some systems refuse to replace a file while it is open: the reader lets go now
      // and then, as any real reader does.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  for (int i = 0; i < 300; ++i) {
    try {
      platform::save_text_line(file.path(), i % 2 ? a : b);
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
      break;
    }
  }
  done = true;
  reader.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(torn.load(), 0) << "first bad read: \"" << example << "\"";
}

// ---- the temporary folder ------------------------------------------------------------

TEST(ContractTempDirectory, EndsInASeparatorExistsAndIsWritable) {
  const std::string dir = platform::temp_directory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), platform::path_join("a", "b")[1]) << "the system's own separator";
  EXPECT_FALSE(platform::file_exists(dir.substr(0, dir.size() - 1))) << "a folder is no file";
  EXPECT_EQ(platform::temp_directory(), dir);
  const std::string probe = dir + "addrova_contract_probe_" + contract::unique() + ".txt";
  EXPECT_FALSE(platform::file_exists(probe));
  EXPECT_FALSE(platform::delete_file(probe));
  platform::save_text_line(probe, "x");
  EXPECT_TRUE(platform::file_exists(probe));
  EXPECT_TRUE(platform::delete_file(probe));
  EXPECT_FALSE(platform::file_exists(probe));
}

// Every lookup downloads into a file of its own and then moves it into the shared place.
TEST(ContractTempDirectory, UniqueFilesAreNewAndEmptyAndMoveReplacesInOneStep) {
  const std::string dir = platform::temp_directory();
  const std::string first = platform::create_unique_file(dir, "my_ip");
  const std::string second = platform::create_unique_file(dir, "my_ip");
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  EXPECT_EQ(first.substr(0, dir.size()), dir);
  EXPECT_EQ(read_all(first), "");
  EXPECT_EQ(platform::create_unique_file(dir + "no_such_folder_addrova" + dir.back(), "my_ip"), "");

  platform::save_text_line(first, "first");
  EXPECT_TRUE(platform::move_file(first, second));
  EXPECT_FALSE(platform::file_exists(first));
  EXPECT_EQ(read_all(second), "first\r\n");
  EXPECT_FALSE(platform::move_file(first, second)) << "nothing left to move";
  EXPECT_EQ(read_all(second), "first\r\n");
  EXPECT_TRUE(platform::delete_file(second));
}

// ---- the profile file ----------------------------------------------------------------

TEST(ContractIniFile, RoundTripWithNamesInAnyCase) {
  TempFile file("profile");
  {
    platform::IniFile ini(file.path());
    ini.write_string("SETTING", "FILEPATH", "Z:\\tmp\\取得 結果.txt");
    ini.write_integer("SETTING", "TIMER_SEC", 120);
    ini.write_integer("SETTING", "TIMER", 0);
  }
  platform::IniFile ini(file.path());
  EXPECT_EQ(ini.read_string("setting", "filepath", ""), "Z:\\tmp\\取得 結果.txt");
  EXPECT_EQ(ini.read_integer("Setting", "Timer_Sec", 5), 120);
  EXPECT_EQ(ini.read_integer("SETTING", "TIMER", 1), 0);
  EXPECT_EQ(ini.read_string("SETTING", "MISSING", "def"), "def");
  EXPECT_EQ(ini.read_integer("OTHER", "TIMER_SEC", 5), 5);
  ini.write_integer("setting", "timer_sec", -3);
  EXPECT_EQ(ini.read_integer("SETTING", "TIMER_SEC", 5), -3);
}

// A stored path comes back whole, or the program would save to a shorter one.
TEST(ContractIniFile, LongValuesReadBackWhole) {
  TempFile file("long");
  for (const std::size_t chars : {2047u, 2048u, 5000u}) {
    const std::string value = "Z:\\" + std::string(chars - 4, 'a') + "é";
    platform::IniFile(file.path()).write_string("SETTING", "FILEPATH", value);
    const std::string read = platform::IniFile(file.path()).read_string("SETTING", "FILEPATH", "");
    EXPECT_EQ(read.size(), value.size()) << chars;
    EXPECT_TRUE(read == value) << chars;
  }
}

TEST(ContractIniFile, MissingFilesKeysAndNumbersGiveTheDefaults) {
  TempFile file("defaults");
  // No file, a folder, and a path below a file: nothing to read.
  TempFile plain("plain");
  platform::save_text_line(plain.path(), "[SETTING]\r\nTIMER_SEC=9");
  const std::string dir = platform::temp_directory();
  for (const std::string& path : {file.path(), dir.substr(0, dir.size() - 1),
                                  platform::path_join(plain.path(), "below-a-file")}) {
    const platform::IniFile missing(path);
    EXPECT_EQ(missing.read_string("SETTING", "FILEPATH", "def"), "def") << path;
    EXPECT_EQ(missing.read_integer("SETTING", "TIMER_SEC", 5), 5) << path;
  }
  EXPECT_FALSE(platform::file_exists(file.path())) << "reading made the file";
  platform::save_text_line(file.path(),
                           "[S]\r\nhex=0x1F\r\nneg=  -7\r\nword=abc\r\nempty=\r\nbig=99999999999");
  const platform::IniFile ini(file.path());
  EXPECT_EQ(ini.read_integer("S", "hex", 0), 31);
  EXPECT_EQ(ini.read_integer("S", "neg", 0), -7);
  for (const char* key : {"word", "empty", "big", "absent"})
    EXPECT_EQ(ini.read_integer("S", key, 42), 42) << key;
  EXPECT_EQ(ini.read_string("S", "absent", "def"), "def");
  EXPECT_EQ(ini.read_integer("OTHER", "hex", 5), 5);
}

TEST(ContractIniFile, WritingReplacesInPlaceAndKeepsForeignLinesAndSections) {
  TempFile file("foreign");
  platform::save_text_line(file.path(),
                           "; mine\r\n[SETTING]\r\nTIMER_SEC=9\r\nMINE=x\r\n[OTHER]\r\nk=v");
  platform::IniFile(file.path()).write_integer("setting", "timer_sec", 30);
  platform::IniFile(file.path()).write_string("SETTING", "FILEPATH", "ip.txt");
  // A file in the 8-bit encoding stays in it while its values fit; the key keeps its one
  // line, where it was.
  const std::string text = read_all(file.path());
  for (const char* line : {"; mine", "[SETTING]", "MINE=x", "[OTHER]", "k=v"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
  const std::size_t value = text.find("=30");
  EXPECT_NE(value, std::string::npos) << text;
  EXPECT_LT(value, text.find("MINE=x")) << text;
  EXPECT_EQ(text.find("=30", value + 1), std::string::npos) << text;
  EXPECT_EQ(text.find("=9"), std::string::npos) << text;
  const platform::IniFile ini(file.path());
  EXPECT_EQ(ini.read_string("SETTING", "MINE", ""), "x");
  EXPECT_EQ(ini.read_string("OTHER", "k", ""), "v");
  EXPECT_EQ(ini.read_string("SETTING", "FILEPATH", ""), "ip.txt");
}

}  // namespace
