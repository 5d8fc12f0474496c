// Desktop entries for the XDG autostart directory.
#pragma once

#include <string>

namespace platform::gtk {

// The Exec value that starts exactly this program path: quoted where the path has a
// reserved character, "%" doubled, then escaped as a desktop-entry string.
std::string desktop_exec_value(const std::string& program);
std::string desktop_entry(const std::string& program, const std::string& icon,
                          const std::string& comment);
// Whether the entry for the program starts exactly that file, as GLib reads entries: the
// Exec value is UTF-8 without control characters, GLib takes the entry for an application
// it can launch, and the command line it runs is the program path alone. GLib looks for
// the program under the Exec text before "%%" stands for "%", so a path with "%" fails.
bool desktop_entry_starts(const std::string& program);

}  // namespace platform::gtk
