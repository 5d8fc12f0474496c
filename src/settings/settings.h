// The settings file "Addrova.ini": beside the executable, or where the platform keeps a
// user's own settings when the executable's folder is not the user's to write.
#pragma once

#include <string>

// The file the settings are read from.
std::string SettingsPath();
// Copies the stored settings into the live options and the refresh timer.
void LoadSettings();
// Writes the live options back, one key at a time, to the file the platform names for
// writing; a refused write throws.
void SaveSettings();
