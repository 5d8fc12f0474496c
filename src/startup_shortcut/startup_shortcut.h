// The shortcut in the user's start-up folder that starts the program at logon.
#pragma once

#include <string>

bool StartupShortcutExists(const std::string& name);
// True, also when there was nothing to remove; false when removing raised an exception.
bool RemoveStartupShortcut(const std::string& name);
// True when the link exists afterwards; an existing link is left as it is.
bool CreateStartupShortcut(const std::string& name);
bool SaveShellLink(const std::string& link_path, const std::string& description,
                   const std::string& target_path);
