#include "platform/gtk/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/platform.h"

namespace platform {

namespace {

bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// A directory that only this user can enter: created if missing, refused if it is a
// link, somebody else's, or open to others.
bool private_directory(const std::string& dir) {
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return false;
  if ((st.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0) return false;
  return true;
}

}  // namespace

std::string temp_directory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string dir = runtime && runtime[0] == '/'
                              ? std::string(runtime) + "/addrova"
                              : "/tmp/addrova-" + std::to_string(geteuid());
  return private_directory(dir) ? dir + "/" : "";
}

bool file_exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool delete_file(const std::string& path) {
  return unlink(path.c_str()) == 0;
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

// The text is UTF-8, as the rest of a Linux desktop expects, with a CR LF after it.
void save_text_line(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw Error("ファイル \"" + path + "\" を作成できません。" + std::strerror(errno));
  const std::string line = text + "\r\n";
  const bool written = write_all(fd, line.data(), line.size());
  const int write_errno = errno;
  const bool closed = close(fd) == 0;
  if (!written || !closed)
    throw Error("ファイル \"" + path + "\" に書き込めません。" +
                std::strerror(written ? errno : write_errno));
}

std::string path_join(const std::string& dir, const std::string& name) {
  return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

namespace gtk {

bool replace_file(const std::string& path, const std::string& bytes, unsigned mode) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  const bool ok = fchmod(fd, mode) == 0 && write_all(fd, bytes.data(), bytes.size());
  if (close(fd) != 0 || !ok || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
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
