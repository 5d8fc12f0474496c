#include "platform/gtk/files.h"

#include <fcntl.h>
#include <glib.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <string_view>

#include "platform/platform.h"

namespace platform {

namespace {

// A directory that only this user can enter: created if missing, refused if it is a
// link, somebody else's, or open to others.
bool private_directory(const std::string& dir) {
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return false;
  if ((st.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0) return false;
  return true;
}

std::string system_temp_root() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && tmp[0] == '/' ? tmp : "/tmp";
}

// A folder that can only be ours: a directory, not a link, owned by us and closed to
// everybody else. Nobody but us (and root) can make a directory that we own.
bool ours_and_private(const std::string& dir) {
  struct stat st;
  return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         (st.st_mode & 077) == 0;
}

// A fallback folder an earlier run left under root, named prefix + six characters; empty
// when there is none.
std::string earlier_fallback(const std::string& root, const std::string& prefix) {
  GDir* dir = g_dir_open(root.c_str(), 0, nullptr);
  if (!dir) return {};
  std::string found;
  while (const char* name = g_dir_read_name(dir)) {
    const std::string_view n(name);
    if (n.size() != prefix.size() + 6 || !n.starts_with(prefix)) continue;
    const std::string path = root + "/" + name;
    if (ours_and_private(path)) {
      found = path;
      break;
    }
  }
  g_dir_close(dir);
  return found;
}

}  // namespace

// The usual place is refused when another user made it first, or a link stands there, or
// the runtime directory cannot be written. No other user can then lock us out: we take a
// directory under a name nobody could know beforehand, kept for the run. A later run
// takes the one an earlier run made, so that runs once a minute leave one folder, not one
// each.
std::string temp_directory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string uid = std::to_string(geteuid());
  const std::string usual = runtime && runtime[0] == '/' ? std::string(runtime) + "/addrova"
                                                         : system_temp_root() + "/addrova-" + uid;
  if (private_directory(usual)) return usual + "/";

  // Never destroyed, for workers that outlive main().
  static std::mutex& lock = *new std::mutex;
  static std::string& fallback = *new std::string;
  std::lock_guard<std::mutex> hold(lock);
  if (fallback.empty() || !ours_and_private(fallback)) {
    const std::string prefix = "addrova-" + uid + "-";
    fallback = earlier_fallback(system_temp_root(), prefix);
    std::string made = system_temp_root() + "/" + prefix + "XXXXXX";
    if (fallback.empty()) fallback = mkdtemp(made.data()) ? made : "";
  }
  return fallback.empty() ? "" : fallback + "/";
}

bool file_exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool delete_file(const std::string& path) {
  return unlink(path.c_str()) == 0;
}

std::string create_unique_file(const std::string& dir, const std::string& stem) {
  std::string path = dir + stem + ".XXXXXX";
  const int fd = g_mkstemp_full(path.data(), O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return {};
  close(fd);
  return path;
}

bool move_file(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

bool read_file_prefix(const std::string& path, std::size_t max_bytes, std::string& out) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out.assign(max_bytes, '\0');
  std::size_t have = 0;
  while (have < max_bytes) {
    const ssize_t n = read(fd, out.data() + have, max_bytes - have);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    have += static_cast<std::size_t>(n);
  }
  close(fd);
  out.resize(have);
  return true;
}

namespace gtk {

int follow_links(std::string path, FinalTarget& out) {
  for (int links = 0; links <= 40; ++links) {  // the kernel's own limit
    if (lstat(path.c_str(), &out.info) != 0) {
      if (errno != ENOENT) return errno;
      out.path = path;  // nothing there yet: created at this name
      return 0;
    }
    if (!S_ISLNK(out.info.st_mode)) {
      out.path = path;
      out.exists = true;
      return 0;
    }
    std::string target(PATH_MAX, '\0');
    const ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n < 0) return errno;
    if (n == 0 || static_cast<std::size_t>(n) >= target.size()) return ENAMETOOLONG;
    target.resize(static_cast<std::size_t>(n));
    // A relative link is relative to the directory that holds it.
    const std::size_t slash = path.rfind('/');
    path = target[0] == '/' || slash == std::string::npos ? target
                                                          : path.substr(0, slash + 1) + target;
  }
  return ELOOP;
}

}  // namespace gtk

namespace {

// Writes all of bytes, resuming after interruptions: 0, or the errno.
int write_all(int fd, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n == 0) return ENOSPC;
    if (n < 0 && errno != EINTR) return errno;
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  return 0;
}

// Writes bytes to a new hidden file beside path and renames it over path, so that a
// reader, or a process killed at any moment, finds the old file whole or the new one.
// Unlike g_file_set_contents_full, which waits for the disk twice on most file systems
// (the file, then its folder), nothing is flushed: this runs on the UI thread after every
// lookup, where a flush could stall the window for as long as the disk is busy. 0, or the
// errno; writing tells whether the new file had been made.
int replace_without_flush(const std::string& path, const std::string& bytes, int mode,
                          bool& writing) {
  // Short enough for any file name length limit.
  const std::size_t name = path.rfind('/') + 1;  // 0 without a slash
  std::string temp = path.substr(0, name) + "." + path.substr(name, 200) + ".XXXXXX";
  writing = false;
  const int fd = g_mkstemp_full(temp.data(), O_WRONLY | O_NOCTTY | O_CLOEXEC, mode);
  if (fd < 0) return errno;
  int error = write_all(fd, bytes);
  if (close(fd) != 0 && error == 0) error = errno;
  writing = error != 0;
  if (error == 0 && rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) unlink(temp.c_str());
  return error;
}

// Overwrites the start of a regular file and then cuts it to the new length, so that it
// never stands empty; only its old tail may show for a moment after a shorter line. For
// files whose folder does not let us put the new file beside them. Opening without
// blocking keeps whatever may have replaced the file meanwhile from hanging us. 0, or the
// errno; writing tells whether the file had been opened.
int rewrite_in_place(const std::string& path, const std::string& bytes, bool& writing) {
  writing = false;
  const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return EOPNOTSUPP;
  }
  writing = true;
  int error = write_all(fd, bytes);
  if (error == 0 && ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  return error;
}

}  // namespace

// The text is UTF-8, as the rest of a Linux desktop expects, with a CR LF after it.
void save_text_line(const std::string& path, const std::string& text) {
  const auto fail = [&path](bool creating, int error) {
    throw Error("ファイル \"" + path +
                (creating ? "\" を作成できません。" : "\" に書き込めません。") + g_strerror(error));
  };
  if (path.empty()) fail(true, ENOENT);
  gtk::FinalTarget target;
  if (const int error = gtk::follow_links(path, target)) fail(true, error);
  if (target.exists) {
    // Writing to a pipe, socket or device could wait for ever, and a folder is no file.
    if (S_ISDIR(target.info.st_mode)) fail(true, EISDIR);
    if (!S_ISREG(target.info.st_mode)) fail(true, EOPNOTSUPP);
    // The rename would get past a file its owner made read-only.
    if (faccessat(AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) != 0) fail(true, errno);
  }
  const std::string line = text + "\r\n";
  // A new file gets 0666 less the umask.
  const int mode = target.exists ? static_cast<int>(target.info.st_mode & 0777) : 0666;
  bool writing = false;
  int error = replace_without_flush(target.path, line, mode, writing);
  if (error == 0 && target.exists) gtk::keep_attributes(target.path, target.info);
  if (error != 0 && !writing && target.exists) error = rewrite_in_place(target.path, line, writing);
  if (error != 0) fail(!writing, error);
}

std::string path_join(const std::string& dir, const std::string& name) {
  return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

namespace gtk {

void keep_attributes(const std::string& path, const struct stat& old) {
  // Only root may give a file away; others may still keep its group.
  if ((old.st_uid != geteuid() || old.st_gid != getegid()) &&
      lchown(path.c_str(), old.st_uid, old.st_gid) != 0)
    (void)!lchown(path.c_str(), static_cast<uid_t>(-1), old.st_gid);
  // After the owner, which clears the set-user and set-group bits.
  (void)!fchmodat(AT_FDCWD, path.c_str(), old.st_mode & 07777, AT_SYMLINK_NOFOLLOW);
}

std::string proc_link_path(const std::string& link) {
  std::string path(4096, '\0');
  const ssize_t n = readlink(link.c_str(), path.data(), path.size());
  path.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  constexpr std::string_view kMark = " (deleted)";
  if (!path.ends_with(kMark)) return path;
  // A file whose own name ends that way, still in place, is the very file of the link.
  struct stat linked, named;
  if (stat(link.c_str(), &linked) == 0 && stat(path.c_str(), &named) == 0 &&
      linked.st_dev == named.st_dev && linked.st_ino == named.st_ino)
    return path;
  path.resize(path.size() - kMark.size());
  return path;
}

}  // namespace gtk
}  // namespace platform
