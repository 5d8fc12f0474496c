// The settings file "Addrova.ini" beside the executable.
#pragma once

#include <string>

std::string SettingsPath();
// Copies the stored settings into the live options and the refresh timer.
void LoadSettings();
// Writes the live options back, one key at a time; a refused write throws.
void SaveSettings();
