// Where the Linux back end reads and writes the settings file, with the two folders given
// directly. A folder that does not exist stands for one the user cannot write to, as the
// installed program's is for anybody but root.
#include "platform/gtk/settings_location.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class SettingsLocation : public testing::Test {
 protected:
  void SetUp() override {
    std::string dir = (fs::temp_directory_path() / "settings_location_test.XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    dir_ = dir;
    fs::create_directory(dir_ / "prog");
    user_ = (dir_ / "config/addrova/").string();
  }
  void TearDown() override { fs::remove_all(dir_); }
  static void put(const std::string& path) { std::ofstream(path) << "[SETTING]\n"; }

  fs::path dir_;
  std::string user_;
};

TEST_F(SettingsLocation, AWritableProgramFolderHoldsTheFileWhateverTheUserHas) {
  const platform::gtk::SettingsFolders folders{(dir_ / "prog/").string(), user_};
  const std::string beside = folders.program + "Addrova.ini";
  EXPECT_EQ(platform::gtk::settings_write_path(folders, "Addrova.ini"), beside);
  EXPECT_FALSE(fs::exists(dir_ / "config")) << "the user's folder was made for nothing";
  fs::create_directories(user_);
  put(user_ + "Addrova.ini");
  EXPECT_EQ(platform::gtk::settings_read_path(folders, "Addrova.ini"), beside);
}

TEST_F(SettingsLocation, OtherwiseTheUsersOwnFileAfterTheAdministrators) {
  const platform::gtk::SettingsFolders folders{(dir_ / "installed/").string(), user_};
  const std::string admin = folders.program + "Addrova.ini";
  const std::string own = user_ + "Addrova.ini";
  ASSERT_FALSE(platform::gtk::folder_writable(folders.program));

  // Before the first 適用: the administrator's file, whether or not there is one.
  EXPECT_EQ(platform::gtk::settings_read_path(folders, "Addrova.ini"), admin);
  EXPECT_FALSE(fs::exists(dir_ / "config"));

  // Writing makes the user's folder, parents included, private to the user.
  EXPECT_EQ(platform::gtk::settings_write_path(folders, "Addrova.ini"), own);
  struct stat st {};
  ASSERT_EQ(stat(user_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // A folder alone does not count; the user's file does, once it is there.
  EXPECT_EQ(platform::gtk::settings_read_path(folders, "Addrova.ini"), admin);
  put(own);
  EXPECT_EQ(platform::gtk::settings_read_path(folders, "Addrova.ini"), own);
}

}  // namespace
