// Where the settings file lives on Linux.
#pragma once

#include <string>

namespace platform::gtk {

// The two folders a settings file can be in, each ending in "/".
struct SettingsFolders {
  std::string program;  // the executable's folder
  std::string user;     // the user's own, e.g. ~/.config/addrova/
};

// The program's folder, and addrova/ in the user's configuration folder (XDG_CONFIG_HOME,
// by default ~/.config).
SettingsFolders settings_folders();
// True when this process may create and replace files in the folder.
bool folder_writable(const std::string& folder);

std::string settings_read_path(const SettingsFolders& folders, const std::string& file_name);
// Creates the user's folder (with its parents, private to the user) when it is the one to
// write to; a folder that cannot be made shows up as a refused write of the file.
std::string settings_write_path(const SettingsFolders& folders, const std::string& file_name);

}  // namespace platform::gtk
