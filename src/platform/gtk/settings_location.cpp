// The settings file beside the executable when the user may write there, as for a copy
// unpacked into the user's own folder; for an installed program, whose folder belongs to
// root, in the user's configuration folder instead. A file an administrator put beside the
// installed program still gives everybody's defaults until the user applies their own.
#include "platform/gtk/settings_location.h"

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include "platform/platform.h"

namespace platform {

namespace gtk {

SettingsFolders settings_folders() {
  return {executable_directory(), path_join(g_get_user_config_dir(), "addrova/")};
}

bool folder_writable(const std::string& folder) {
  return !folder.empty() && faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string settings_read_path(const SettingsFolders& folders, const std::string& file_name) {
  if (folder_writable(folders.program)) return folders.program + file_name;
  const std::string own = folders.user + file_name;
  return file_exists(own) ? own : folders.program + file_name;
}

std::string settings_write_path(const SettingsFolders& folders, const std::string& file_name) {
  if (folder_writable(folders.program)) return folders.program + file_name;
  g_mkdir_with_parents(folders.user.c_str(), 0700);
  return folders.user + file_name;
}

}  // namespace gtk

std::string settings_path_for_reading(const std::string& file_name) {
  return gtk::settings_read_path(gtk::settings_folders(), file_name);
}

std::string settings_path_for_writing(const std::string& file_name) {
  return gtk::settings_write_path(gtk::settings_folders(), file_name);
}

}  // namespace platform
