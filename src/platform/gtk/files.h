// File helpers of the POSIX back end.
#pragma once

#include <string>

namespace platform::gtk {

// How replace_file treats the file it replaces.
struct Replacement {
  // Permission bits of a file that did not exist yet; the umask takes its share.
  unsigned create_mode = 0600;
  // An existing regular file (a symbolic link's target, for this purpose) passes its
  // permission bits, and its owner where we may set it, to the new file.
  bool keep_attributes = false;
  // The data and then the rename are flushed to the disk before returning. Without it the
  // file is still never seen half written, not even after the process is killed; only a
  // power cut can lose the newest content.
  bool durable = false;
};

struct ReplaceResult {
  enum class Step { None, Sibling, Write, Rename };
  Step failed = Step::None;  // the step that failed, if any
  int error = 0;             // its errno
  bool ok() const { return failed == Step::None; }
};

// Writes bytes to a new hidden sibling of path and renames it over path, so that a reader,
// or a crash at any moment, finds either the old file whole or the new one: never an empty
// or half-written one. A symbolic link at path is replaced, never written through, and the
// sibling is gone again whatever happens.
ReplaceResult replace_file(const std::string& path, const std::string& bytes,
                           const Replacement& how);

// Writes all bytes, resuming after interruptions; false with errno set on failure.
bool write_all(int fd, const char* data, std::size_t size);

// The path a /proc link such as /proc/self/exe names, empty when it cannot be read. The
// kernel marks a file deleted or replaced since it was opened with " (deleted)" after its
// path; that mark is dropped, so the result is the place the file was at, which may now
// hold a newer file or none.
std::string proc_link_path(const std::string& link);

}  // namespace platform::gtk
