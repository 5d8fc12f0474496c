#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "file_size_limit.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

class IniFileTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string dir = (fs::temp_directory_path() / "ini_file_test.XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    dir_ = dir;
    path_ = (dir_ / "Addrova.ini").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string contents() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  void put(const std::string& text) const { std::ofstream(path_, std::ios::binary) << text; }
  // Nothing but the settings file may remain: no temporary sibling.
  void expect_alone() const {
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);
    EXPECT_TRUE(fs::is_regular_file(path_));
  }
  static void expect_refused(const std::string& path, const std::string& value = "1") {
    try {
      platform::IniFile(path).write_string("SETTING", "TIMER", value);
      ADD_FAILURE() << "write to " << path << " succeeded";
    } catch (const platform::Error& e) {
      EXPECT_EQ(e.what(), path + " に書き込めません");
    }
  }

  fs::path dir_;
  std::string path_;
};

TEST_F(IniFileTest, WritesExactBytesAndKeepsForeignLines) {
  {
    platform::IniFile ini(path_);
    ini.write_integer("SETTING", "TIMER_SEC", 5);
    ini.write_string("SETTING", "FILEPATH", "/tmp/ip.txt");
  }
  EXPECT_EQ(contents(), "[SETTING]\r\nTIMER_SEC=5\r\nFILEPATH=/tmp/ip.txt\r\n");

  put("; mine\n[SETTING]\nTIMER_SEC=9\nMINE=x\n\n[OTHER]\nk=v\n");
  chmod(path_.c_str(), 0600);
  platform::IniFile(path_).write_integer("setting", "timer_sec", -3);
  EXPECT_EQ(contents(), "; mine\n[SETTING]\ntimer_sec=-3\nMINE=x\n\n[OTHER]\nk=v\n");
  EXPECT_EQ(fs::status(path_).permissions(), fs::perms::owner_read | fs::perms::owner_write);

  // Written by root, somebody else's file stays theirs, with bits the umask would take.
  ASSERT_EQ(chown(path_.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(path_.c_str(), 0666), 0);
  platform::IniFile(path_).write_integer("SETTING", "TIMER_SEC", 4);
  struct stat st {};
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0666u);
  expect_alone();
}

// A settings file kept elsewhere and linked in, as dotfile managers do, is written where it
// is, through a chain of links; a link that leads nowhere yet makes the file it names.
TEST_F(IniFileTest, LinksLeadToTheFileThatIsWritten) {
  const fs::path kept = dir_ / "dotfiles" / "Addrova.ini";
  fs::create_directory(kept.parent_path());
  std::ofstream(kept, std::ios::binary) << "[SETTING]\r\nTIMER=0\r\n";
  ASSERT_EQ(chown(kept.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(kept.c_str(), 0640), 0);
  fs::create_symlink("dotfiles/Addrova.ini", dir_ / "middle");
  fs::create_symlink(dir_ / "middle", path_);

  platform::IniFile(path_).write_string("SETTING", "TIMER", "1");
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_TRUE(fs::is_symlink(dir_ / "middle"));
  std::ifstream in(kept, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "[SETTING]\r\nTIMER=1\r\n");
  struct stat st {};
  ASSERT_EQ(stat(kept.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(platform::IniFile(path_).read_integer("SETTING", "TIMER", 5), 1);

  fs::remove(kept);
  platform::IniFile(path_).write_string("SETTING", "FILEPATH", "x");
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(contents(), "[SETTING]\r\nFILEPATH=x\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(kept.parent_path()), {}), 1);
}

// Root ignores permission bits, so the failures are made in ways that stop root too.
TEST_F(IniFileTest, FailedWritesThrowAndLeaveOldFileAlone) {
  const std::string old = "[SETTING]\r\nTIMER=0\r\n";
  put(old);
  expect_refused((dir_ / "no-such-dir" / "a.ini").string());
  expect_refused(dir_.string());
  expect_refused("/proc/addrova-test.ini");
  expect_refused(path_, "1\r\n[SETTING]\r\nX=1");

  // A file size limit makes writing the temporary file fail half-way.
  {
    const test::FileSizeLimit limit(4096);
    expect_refused(path_, std::string(10000, 'v'));
  }
  EXPECT_EQ(contents(), old);

  // Beyond 16 MiB the file reads as cut there, and rewriting it would lose the rest.
  const std::string big = old + std::string(16 << 20, ';') + "\r\n[LATE]\r\nk=1\r\n";
  put(big);
  EXPECT_EQ(platform::IniFile(path_).read_integer("SETTING", "TIMER", 5), 0);
  EXPECT_EQ(platform::IniFile(path_).read_integer("LATE", "k", 5), 5);
  expect_refused(path_);
  EXPECT_TRUE(contents() == big);
  expect_alone();
}

}  // namespace
