#include "settings/settings.h"

#include "Option/Option.h"
#include "Unit1/Unit1.h"
#include "platform/platform.h"

namespace {
constexpr char kSection[] = "SETTING";
constexpr char kFileName[] = "Addrova.ini";
}  // namespace

std::string SettingsPath() {
  return platform::settings_path_for_reading(kFileName);
}

void LoadSettings() {
  if (!FormOption) return;
  TFormOption& opt = *FormOption;
  platform::IniFile ini(SettingsPath());
  opt.edtSec.set_text(std::to_string(ini.read_integer(kSection, "TIMER_SEC", 5)));
  // Setting a check box runs its click handler, which enables the box it governs.
  if (ini.read_integer(kSection, "TIMER", 0) != 0) {
    opt.cbTimer.set_checked(true);
    opt.edtSec.set_enabled(true);
    if (MainForm) MainForm->ArmTimer();
  } else {
    opt.cbTimer.set_checked(false);
    opt.edtSec.set_enabled(false);
    if (MainForm) MainForm->DisarmTimer();
  }
  opt.edtFileName.set_text(ini.read_string(kSection, "FILEPATH", ""));
  const bool save = ini.read_integer(kSection, "FILESAVE", 0) != 0;
  opt.cbFileSave.set_checked(save);
  opt.edtFileName.set_enabled(save);
  opt.cbNotify.set_checked(ini.read_integer(kSection, "NOTIFY", 1) != 0);
}

void SaveSettings() {
  platform::IniFile ini(platform::settings_path_for_writing(kFileName));
  ini.write_integer(kSection, "TIMER_SEC", TFormOption::LiveInterval());
  ini.write_integer(kSection, "TIMER", TFormOption::AutoRefresh() ? 1 : 0);
  ini.write_string(kSection, "FILEPATH", TFormOption::SavePath());
  ini.write_integer(kSection, "FILESAVE", TFormOption::SaveToFile() ? 1 : 0);
  ini.write_integer(kSection, "NOTIFY", TFormOption::NotifyOfChange() ? 1 : 0);
}
