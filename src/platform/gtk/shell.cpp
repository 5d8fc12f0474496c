// Opening web pages, and the start-up link as an XDG autostart desktop entry.
#include <sys/stat.h>

#include "platform/gtk/desktop_entry.h"
#include "platform/gtk/gtk_impl.h"

namespace platform {

const char* const kStartupLinkName = "addrova.desktop";

void open_url(Window& owner, const std::string& url) {
  GError* error = nullptr;
  gtk_show_uri_on_window(GTK_WINDOW(owner.impl().window), url.c_str(), GDK_CURRENT_TIME, &error);
  if (error) g_error_free(error);
}

// autostart in the user's configuration folder ($XDG_CONFIG_HOME, else ~/.config), created
// when missing.
bool startup_folder(Window*, std::string& path) {
  path = path_join(g_get_user_config_dir(), "autostart");
  return g_mkdir_with_parents(path.c_str(), 0700) == 0;
}

struct ShellLink::Impl {
  std::string target, description, icon;
};

ShellLink::ShellLink() = default;
ShellLink::~ShellLink() = default;

bool ShellLink::create() {
  impl_ = std::make_unique<Impl>();
  return true;
}

// An entry naming a program file that is gone (replaced or removed since the program
// started) would fail at every logon, and one the desktop cannot start exactly as written
// (a path that is not UTF-8, has a control character or a "%") would too. Both are
// refused, and save() then writes nothing.
bool ShellLink::set_path(const std::string& target) {
  struct stat st;
  const bool usable = !target.empty() && stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                      gtk::desktop_entry_starts(target);
  impl_->target = usable ? target : "";
  return usable;
}

bool ShellLink::set_description(const std::string& description) {
  impl_->description = description;
  return true;
}

// The program's icon: the picture installed beside the executable when there is one,
// else the icon theme's entry that the installed package provides.
bool ShellLink::set_icon_location(const std::string& file, int) {
  const std::string beside = file.substr(0, file.rfind('/') + 1) + "addrova.png";
  impl_->icon = file_exists(beside) ? beside : "addrova";
  return true;
}

bool ShellLink::save(const std::string& link_path) {
  if (impl_->target.empty()) return false;
  // Replaced whole, a symbolic link at the path included: never written through.
  const std::string entry = gtk::desktop_entry(impl_->target, impl_->icon, impl_->description);
  return g_file_set_contents_full(link_path.c_str(), entry.data(),
                                  static_cast<gssize>(entry.size()), G_FILE_SET_CONTENTS_CONSISTENT,
                                  0644, nullptr);
}

}  // namespace platform
