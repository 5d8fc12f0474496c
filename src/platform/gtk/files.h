// File helpers of the POSIX back end.
#pragma once

#include <sys/stat.h>

#include <string>

namespace platform::gtk {

// Where a chain of symbolic links starting at a path ends, and what is there: the file
// itself, or the name a file would be created at when nothing is there yet.
struct FinalTarget {
  std::string path;
  bool exists = false;
  struct stat info {};
};
// Follows the links at path, through any chain, as opening the path would. 0, or the
// errno that stopped the walk (ELOOP after the kernel's own limit of 40 links).
int follow_links(std::string path, FinalTarget& out);

// A file written anew to replace another is ours, with the mode it was made with less the
// umask. This gives the file now at path, replacing the one described by old, that file's
// owner where we may set it and its exact permission bits. A symbolic link put at path
// meanwhile is left alone.
void keep_attributes(const std::string& path, const struct stat& old);

// The path a /proc link such as /proc/self/exe names, empty when it cannot be read. The
// kernel marks a file deleted or replaced since it was opened with " (deleted)" after its
// path; that mark is dropped, so the result is the place the file was at, which may now
// hold a newer file or none.
std::string proc_link_path(const std::string& link);

}  // namespace platform::gtk
