// File helpers of the POSIX back end.
#pragma once

#include <string>

namespace platform::gtk {

// Writes bytes to a new sibling of path and renames it over path: a crash never leaves
// half a file, and a symbolic link at path is replaced, never written through.
bool replace_file(const std::string& path, const std::string& bytes, unsigned mode = 0600);

}  // namespace platform::gtk
