// The settings file beside the executable, loaded into and saved from the options dialog.
#include "settings/settings.h"

#include <gtest/gtest.h>

#include "Option/Option.h"
#include "platform/platform.h"

namespace {

class SettingsTest : public testing::Test {
 protected:
  void SetUp() override {
    platform::delete_file(SettingsPath());
    FormOption = &options_;
  }
  void TearDown() override {
    FormOption = nullptr;
    platform::delete_file(SettingsPath());
  }
  void write_settings(const std::string& text) { platform::save_text_line(SettingsPath(), text); }

  TFormOption options_;
};

TEST_F(SettingsTest, PathIsBesideTheExecutable) {
  EXPECT_EQ(SettingsPath(), platform::executable_directory() + "Addrova.ini");
}

TEST_F(SettingsTest, NoFileGivesTheDefaults) {
  options_.cbTimer.set_checked(true);
  options_.cbFileSave.set_checked(true);
  options_.cbNotify.set_checked(false);
  options_.edtSec.set_text("9");
  LoadSettings();
  EXPECT_TRUE(options_.cbNotify.checked());
  EXPECT_EQ(options_.edtSec.text(), "5");
  EXPECT_FALSE(options_.cbTimer.checked());
  EXPECT_FALSE(options_.edtSec.enabled());
  EXPECT_FALSE(options_.cbFileSave.checked());
  EXPECT_FALSE(options_.edtFileName.enabled());
  EXPECT_EQ(options_.edtFileName.text(), "");
}

TEST_F(SettingsTest, HexIntervalAndAnyNonZeroSwitchOn) {
  write_settings(
      "[SETTING]\r\nTIMER_SEC=0x1F\r\nTIMER=7\r\nFILESAVE=2\r\nFILEPATH=Z:\\tmp\\取得.txt");
  LoadSettings();
  EXPECT_EQ(options_.edtSec.text(), "31");
  EXPECT_TRUE(options_.cbTimer.checked());
  EXPECT_TRUE(options_.edtSec.enabled());
  EXPECT_TRUE(options_.cbFileSave.checked());
  EXPECT_TRUE(options_.edtFileName.enabled());
  EXPECT_EQ(options_.edtFileName.text(), "Z:\\tmp\\取得.txt");
  EXPECT_EQ(TFormOption::LiveInterval(), 31);
}

TEST_F(SettingsTest, SavedSettingsLoadBack) {
  options_.edtSec.set_text("12");
  options_.cbTimer.set_checked(true);
  options_.edtFileName.set_text("C:\\users\\結果.txt");
  options_.cbFileSave.set_checked(true);
  options_.cbNotify.set_checked(false);
  SaveSettings();
  {
    platform::IniFile ini(SettingsPath());
    EXPECT_EQ(ini.read_string("SETTING", "TIMER_SEC", ""), "12");
    EXPECT_EQ(ini.read_string("SETTING", "TIMER", ""), "1");
    EXPECT_EQ(ini.read_string("SETTING", "FILESAVE", ""), "1");
    EXPECT_EQ(ini.read_string("SETTING", "NOTIFY", ""), "0");
  }
  options_.cbNotify.set_checked(true);
  options_.cbTimer.set_checked(false);
  options_.cbFileSave.set_checked(false);
  options_.edtSec.set_text("5");
  options_.edtFileName.set_text("");
  LoadSettings();
  EXPECT_EQ(options_.edtSec.text(), "12");
  EXPECT_TRUE(options_.cbTimer.checked());
  EXPECT_TRUE(options_.cbFileSave.checked());
  EXPECT_EQ(options_.edtFileName.text(), "C:\\users\\結果.txt");
  EXPECT_FALSE(options_.cbNotify.checked());
}

// é is outside code page 932 and 日本 outside 1252; the path must come back as it was,
// or the program would save somewhere else after a restart.
TEST_F(SettingsTest, SavePathOutsideTheCodePageLoadsBack) {
  const std::string path = "C:\\Tools\\résumé 日本.txt";
  options_.edtFileName.set_text(path);
  options_.cbFileSave.set_checked(true);
  SaveSettings();
  options_.edtFileName.set_text("");
  LoadSettings();
  EXPECT_EQ(options_.edtFileName.text(), path);
}

TEST_F(SettingsTest, IntervalThatIsNoNumberIsSavedAsFive) {
  options_.edtSec.set_text("abc");
  SaveSettings();
  EXPECT_EQ(platform::IniFile(SettingsPath()).read_string("SETTING", "TIMER_SEC", ""), "5");
}

}  // namespace
