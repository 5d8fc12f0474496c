// File helpers of the POSIX back end.
#pragma once

#include <string>

namespace platform::gtk {

// Writes bytes to a new sibling of path and renames it over path: a crash never leaves
// half a file, and a symbolic link at path is replaced, never written through.
bool replace_file(const std::string& path, const std::string& bytes, unsigned mode = 0600);

// The path a /proc link such as /proc/self/exe names, empty when it cannot be read. The
// kernel marks a file deleted or replaced since it was opened with " (deleted)" after its
// path; that mark is dropped, so the result is the place the file was at, which may now
// hold a newer file or none.
std::string proc_link_path(const std::string& link);

}  // namespace platform::gtk
