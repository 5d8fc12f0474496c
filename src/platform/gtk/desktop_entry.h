// Desktop entries for the XDG autostart directory.
#pragma once

#include <string>

namespace platform::gtk {

// The Exec value that starts exactly this program path: quoted where the path has a
// reserved character, "%" doubled, then escaped as a desktop-entry string.
std::string desktop_exec_value(const std::string& program);
std::string desktop_entry(const std::string& program, const std::string& icon,
                          const std::string& comment);

}  // namespace platform::gtk
