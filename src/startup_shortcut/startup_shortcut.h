// The shortcut in the user's start-up folder that starts the program at logon.
#pragma once

#include <string>

// The functions below show a message box for every failure they report.

bool StartupShortcutExists(const std::string& name);
// True when no link exists afterwards, also when there was nothing to remove.
bool RemoveStartupShortcut(const std::string& name);
// True when the link exists afterwards; an existing link is left as it is.
bool CreateStartupShortcut(const std::string& name);
// True when the link was saved. A refused target is told of but the link is still
// offered to the system, which may refuse to save it.
bool SaveShellLink(const std::string& link_path, const std::string& description,
                   const std::string& target_path);
