// contract::SealedFolder on Linux: the folder is made immutable, which stops root as well
// as everyone else from adding to it but leaves the files in it writable; and read-only,
// which is enough for a user who may not make it immutable.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "contract/contract.h"

namespace contract {

namespace {

// Sets or clears the folder's immutable attribute: 0, or the errno.
int set_immutable(const std::string& dir, bool on) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  int flags = 0;
  int error = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
    error = errno;
  } else {
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    if (ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) error = errno;
  }
  close(fd);
  return error;
}

}  // namespace

SealedFolder::SealedFolder() {
  std::string dir = platform::temp_directory() + "addrova_contract_sealed_XXXXXX";
  if (mkdtemp(dir.data())) dir_ = dir;
  EXPECT_FALSE(dir_.empty()) << std::strerror(errno);
}

SealedFolder::~SealedFolder() {
  if (dir_.empty()) return;
  if (sealed_) {
    EXPECT_EQ(set_immutable(dir_, false), 0) << "chattr -i " << dir_;
    chmod(dir_.c_str(), 0700);
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

bool SealedFolder::seal() {
  if (dir_.empty()) return false;
  sealed_ = true;
  chmod(dir_.c_str(), 0500);
  const int error = set_immutable(dir_, true);
  // Either alone may be enough: proof is that nothing new can be made.
  const std::string probe = path("probe");
  const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return true;
  close(fd);
  unlink(probe.c_str());
  why_not_ = std::string("cannot seal a folder here: ") +
             (error ? std::strerror(error) : "it still takes new files");
  return false;
}

}  // namespace contract
