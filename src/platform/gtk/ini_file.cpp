// Profile files on Linux: the Windows text format (logic/profile_format.h), read whole
// on every call and replaced atomically on every write, so that a crash or a full disk
// never leaves half a settings file behind. Values are bytes, kept as they are.
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>

#include "logic/profile_format.h"
#include "platform/gtk/files.h"
#include "platform/platform.h"

namespace platform {

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

struct ExistingFile {
  bool present = false;   // a regular file is at the path
  bool complete = false;  // text holds all of it
  struct stat info {};
  std::string text;
};

// False when something is at the path that cannot be read as a regular file; a missing
// file is no failure. Opening without blocking keeps a FIFO at the path from hanging us.
bool load(const std::string& path, ExistingFile& file) {
  file = ExistingFile{};
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) {
    file.complete = errno == ENOENT;
    return file.complete;
  }
  if (::fstat(fd.get(), &file.info) != 0 || !S_ISREG(file.info.st_mode)) return false;
  file.present = true;
  // One byte past the cap tells whether the file goes on; a file that does is never
  // rewritten, as what lies beyond would be lost.
  const std::size_t want = profile::kMaxFileBytes + 1;
  file.text.reserve(std::min<std::size_t>(static_cast<std::size_t>(file.info.st_size), want));
  std::size_t have = 0;
  while (have < want) {
    file.text.resize(std::min(want, have + 65536));
    const ssize_t n = ::read(fd.get(), file.text.data() + have, file.text.size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      file.text.clear();
      return false;
    }
    if (n == 0) break;
    have += static_cast<std::size_t>(n);
  }
  file.text.resize(have);
  file.complete = have <= profile::kMaxFileBytes;
  if (!file.complete) file.text.resize(profile::kMaxFileBytes);
  return true;
}

[[noreturn]] void refuse(const std::string& path) {
  throw Error(path + " に書き込めません");
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

// Every write already reached the disk; there is no cache to flush.
IniFile::~IniFile() = default;

std::string IniFile::read_string(const std::string& section, const std::string& key,
                                 const std::string& def) const {
  ExistingFile file;
  load(path_, file);  // an unreadable file reads as empty
  return profile::get(file.text, section, key).value_or(def);
}

void IniFile::write_string(const std::string& section, const std::string& key,
                           const std::string& value) {
  // A link, as dotfile managers keep, stays a link: the file it leads to is the one
  // replaced, or created when the link dangles.
  gtk::FinalTarget target;
  if (gtk::follow_links(path_, target) != 0) refuse(path_);
  const std::string& real = target.path;
  ExistingFile file;
  if (!load(real, file) || !file.complete) refuse(path_);
  // The rename would get past a file its owner made read-only; honour it as Windows does.
  if (file.present && ::faccessat(AT_FDCWD, real.c_str(), W_OK, AT_EACCESS) != 0) refuse(path_);
  const std::optional<std::string> text = profile::set(file.text, section, key, value);
  if (!text) refuse(path_);
  if (file.present && *text == file.text) return;  // unchanged: leave the file alone
  // Settings change seldom and only by the user's hand: worth waiting for the disk.
  const int mode = file.present ? static_cast<int>(file.info.st_mode & 0777) : 0644;
  if (!g_file_set_contents_full(real.c_str(), text->data(), static_cast<gssize>(text->size()),
                                static_cast<GFileSetContentsFlags>(G_FILE_SET_CONTENTS_CONSISTENT |
                                                                   G_FILE_SET_CONTENTS_DURABLE),
                                mode, nullptr))
    refuse(path_);
  if (file.present) gtk::keep_attributes(real, file.info);
}

}  // namespace platform
