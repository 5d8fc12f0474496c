// The integer accessors of IniFile, the same on every platform: numbers are stored as
// decimal text and read as shared::parse_int reads them.
#include <string>

#include "logic/int_parse.h"
#include "platform/platform.h"

namespace platform {

int IniFile::read_integer(const std::string& section, const std::string& key, int def) const {
  return shared::parse_int_or(read_string(section, key, ""), def);
}

void IniFile::write_integer(const std::string& section, const std::string& key, int value) {
  write_string(section, key, std::to_string(value));
}

}  // namespace platform
