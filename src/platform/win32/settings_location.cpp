// Windows keeps the settings file beside the executable, always: the program is one
// portable file, unpacked into a folder the user can write to.
#include "platform/platform.h"

namespace platform {

std::string settings_path_for_reading(const std::string& file_name) {
  return executable_directory() + file_name;
}

std::string settings_path_for_writing(const std::string& file_name) {
  return executable_directory() + file_name;
}

}  // namespace platform
