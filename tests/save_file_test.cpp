// platform::save_text_line: the exact bytes, what may stand at the path, symbolic links,
// kept permissions and owner, and that nobody ever finds the file empty or half written.
// The tests run as root, so permissions are tested through another user id where it counts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <set>
#include <string>
#include <thread>

#include "file_size_limit.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

constexpr uid_t kOtherUser = 65534;

std::string read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

struct stat lstat_of(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

// Runs the rest of a scope as another user, as far as file access goes.
class AsUser {
 public:
  explicit AsUser(uid_t uid) { EXPECT_EQ(seteuid(uid), 0); }
  ~AsUser() { EXPECT_EQ(seteuid(0), 0); }
};

class SaveFile : public testing::Test {
 protected:
  void SetUp() override {
    std::string dir = (fs::temp_directory_path() / "addrova-save-test.XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    dir_ = dir;
    path_ = dir_ / "out.txt";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Every name in the folder: a temporary sibling left behind shows up here.
  std::set<std::string> names() const {
    std::set<std::string> out;
    for (const auto& entry : fs::directory_iterator(dir_)) out.insert(entry.path().filename());
    return out;
  }
  // The message the program shows when the path cannot be made into the file.
  static std::string refusal(const fs::path& path, const std::string& text = "127.0.0.1") {
    try {
      platform::save_text_line(path, text);
    } catch (const platform::Error& e) {
      return e.what();
    }
    return "(saved)";
  }
  static bool refused_as_uncreatable(const std::string& message, const fs::path& path) {
    return message.rfind("ファイル \"" + path.string() + "\" を作成できません。", 0) == 0 &&
           message.size() > path.string().size() + 40;  // a reason follows
  }

  fs::path dir_, path_;
};

TEST_F(SaveFile, WritesTheTextAndCrLfAndReplacesWhatWasThere) {
  platform::save_text_line(path_, "203.0.113.255");
  EXPECT_EQ(read_bytes(path_), "203.0.113.255\r\n");
  platform::save_text_line(path_, "取得エラー");
  EXPECT_EQ(read_bytes(path_), "\xE5\x8F\x96\xE5\xBE\x97\xE3\x82\xA8\xE3\x83\xA9\xE3\x83\xBC\r\n");
  write_bytes(path_, std::string(10000, 'x'));
  platform::save_text_line(path_, "");
  EXPECT_EQ(read_bytes(path_), "\r\n");
  EXPECT_EQ(names(), std::set<std::string>{"out.txt"});
}

TEST_F(SaveFile, NewFileTakesTheUmaskAndAnExistingOneKeepsModeAndOwner) {
  for (mode_t mask : {022, 002, 077}) {
    fs::remove(path_);
    const mode_t saved = umask(mask);
    platform::save_text_line(path_, "192.0.2.1");
    umask(saved);
    EXPECT_EQ(lstat_of(path_).st_mode & 07777, 0666 & ~mask) << std::oct << mask;
  }
  ASSERT_EQ(chown(path_.c_str(), kOtherUser, kOtherUser), 0);
  ASSERT_EQ(chmod(path_.c_str(), 0640), 0);
  platform::save_text_line(path_, "192.0.2.2");
  const struct stat st = lstat_of(path_);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_uid, kOtherUser);
  EXPECT_EQ(st.st_gid, kOtherUser);
  EXPECT_EQ(read_bytes(path_), "192.0.2.2\r\n");
}

TEST_F(SaveFile, PipeSocketDeviceAndFolderAreRefusedAtOnce) {
  const fs::path fifo = dir_ / "fifo", socket_path = dir_ / "socket", device = dir_ / "null",
                 folder = dir_ / "folder", to_fifo = dir_ / "link-to-fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socket_path.c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(sock, 1), 0);
  ASSERT_EQ(mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);  // like /dev/null
  fs::create_directory(folder);
  fs::create_symlink("fifo", to_fifo);

  for (const fs::path& path : {fifo, socket_path, device, folder, to_fifo}) {
    SCOPED_TRACE(path);
    const mode_t type_before = lstat_of(path).st_mode & S_IFMT;
    // A FIFO nobody reads would block an open for writing until somebody does: run the
    // save aside, and if it hangs, be the reader that lets it go.
    const auto start = std::chrono::steady_clock::now();
    auto saving = std::async(std::launch::async, [&path] { return refusal(path); });
    if (saving.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
      saving.wait();
      close(reader);
      ADD_FAILURE() << "the save waited on " << path;
      continue;
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_LT(ms, 1000);
    const std::string message = saving.get();
    EXPECT_TRUE(refused_as_uncreatable(message, path)) << message;
    EXPECT_EQ(lstat_of(path).st_mode & S_IFMT, type_before);
  }
  EXPECT_TRUE(fs::is_empty(folder));
  EXPECT_EQ(names(), (std::set<std::string>{"fifo", "socket", "null", "folder", "link-to-fifo"}));
  close(sock);
}

TEST_F(SaveFile, SymbolicLinksAreFollowedAndStayLinks) {
  fs::create_directory(dir_ / "sub");
  fs::create_directory(dir_ / "other");
  const fs::path real = dir_ / "sub" / "real.txt";
  write_bytes(real, "old\r\n");
  ASSERT_EQ(chmod(real.c_str(), 0604), 0);
  struct Case {
    const char* name;
    fs::path link;
    fs::path to;  // as written into the link
  } cases[] = {
      {"absolute", dir_ / "abs", real},
      {"relative to the link's folder", dir_ / "other" / "rel", "../sub/real.txt"},
      {"chain of relative links", dir_ / "chain", "other/rel"},
      {"link to a link in the same folder", dir_ / "sub" / "same", "real.txt"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::create_symlink(c.to, c.link);
    const std::string text = "192.0.2." + std::to_string(++n);
    platform::save_text_line(c.link, text);
    EXPECT_TRUE(fs::is_symlink(c.link));
    EXPECT_EQ(fs::read_symlink(c.link), c.to);
    EXPECT_EQ(read_bytes(real), text + "\r\n");
    EXPECT_EQ(lstat_of(real).st_mode & 07777, 0604u);
  }
  {
    SCOPED_TRACE("dangling link");
    fs::create_symlink("sub/new.txt", dir_ / "dangling");
    platform::save_text_line(dir_ / "dangling", "192.0.2.9");
    EXPECT_TRUE(fs::is_symlink(dir_ / "dangling"));
    EXPECT_EQ(read_bytes(dir_ / "sub" / "new.txt"), "192.0.2.9\r\n");
  }
  {
    SCOPED_TRACE("loop");
    fs::create_symlink("loop-b", dir_ / "loop-a");
    fs::create_symlink("loop-a", dir_ / "loop-b");
    EXPECT_TRUE(refused_as_uncreatable(refusal(dir_ / "loop-a"), dir_ / "loop-a"));
  }
  EXPECT_EQ(names(), (std::set<std::string>{"sub", "other", "abs", "chain", "dangling", "loop-a",
                                            "loop-b"}));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "sub"), {}), 3);  // real, same, new
}

TEST_F(SaveFile, FailuresLeaveTheOldFileAndNoTemporaryFile) {
  write_bytes(path_, "192.0.2.1\r\n");
  // A file size limit makes writing the new content fail half-way.
  std::string message;
  {
    const test::FileSizeLimit limit(4096);
    message = refusal(path_, std::string(10000, '1'));
  }
  EXPECT_EQ(message.rfind("ファイル \"" + path_.string() + "\" に書き込めません。", 0), 0u)
      << message;
  EXPECT_EQ(read_bytes(path_), "192.0.2.1\r\n");

  EXPECT_TRUE(refused_as_uncreatable(refusal(dir_ / "missing" / "x.txt"), dir_ / "missing/x.txt"));
  EXPECT_TRUE(refused_as_uncreatable(refusal(path_ / "below-a-file"), path_ / "below-a-file"));
  EXPECT_TRUE(refused_as_uncreatable(refusal("/proc/addrova-out.txt"), "/proc/addrova-out.txt"));
  EXPECT_EQ(names(), std::set<std::string>{"out.txt"});
}

// A file the user may write in a folder they may not: there is no room for a new file
// beside it, so it is rewritten where it stands, still never emptied first.
TEST_F(SaveFile, FileInAFolderWeMayNotWriteIsRewrittenInPlace) {
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  write_bytes(path_, "203.0.113.255\r\n");
  ASSERT_EQ(chown(path_.c_str(), kOtherUser, kOtherUser), 0);
  ASSERT_EQ(chmod(path_.c_str(), 0640), 0);
  const ino_t inode = lstat_of(path_).st_ino;
  {
    AsUser other(kOtherUser);
    platform::save_text_line(path_, "192.0.2.1");
    EXPECT_TRUE(refused_as_uncreatable(refusal(dir_ / "new.txt"), dir_ / "new.txt"));
  }
  EXPECT_EQ(read_bytes(path_), "192.0.2.1\r\n");  // the longer old line is cut off
  const struct stat st = lstat_of(path_);
  EXPECT_EQ(st.st_ino, inode);
  EXPECT_EQ(st.st_uid, kOtherUser);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(names(), std::set<std::string>{"out.txt"});
}

// A reader polling the file, as a script watching it would, never catches it empty, gone
// or holding anything but one whole line.
TEST_F(SaveFile, ReaderNeverSeesAnEmptyOrPartialFile) {
  const std::string lines[] = {"192.0.2.1", "取得エラー", "203.0.113.255"};
  platform::save_text_line(path_, lines[0]);
  std::atomic<bool> done{false};
  std::atomic<long> reads{0}, bad{0};
  std::string example;
  std::thread reader([&] {
    char buffer[256];
    while (!done) {
      const int fd = open(path_.c_str(), O_RDONLY);
      ssize_t n = fd < 0 ? -1 : read(fd, buffer, sizeof buffer);
      if (fd >= 0) close(fd);
      ++reads;
      const std::string got = n < 0 ? "(missing)" : std::string(buffer, static_cast<size_t>(n));
      if (got != lines[0] + "\r\n" && got != lines[1] + "\r\n" && got != lines[2] + "\r\n" &&
          bad++ == 0)
        example = got;
    }
  });
  for (int i = 0; i < 3000; ++i) platform::save_text_line(path_, lines[i % 3]);
  done = true;
  reader.join();
  EXPECT_GT(reads.load(), 1000);
  EXPECT_EQ(bad.load(), 0) << "first bad read: \"" << example << "\" of " << reads.load();
  EXPECT_EQ(names(), std::set<std::string>{"out.txt"});
}

// A process killed in the middle of a save leaves the old line or the new one.
TEST_F(SaveFile, KilledWriterLeavesAWholeLine) {
  platform::save_text_line(path_, "192.0.2.1");
  for (int round = 0; round < 20; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i) platform::save_text_line(path_, i % 2 ? "192.0.2.1" : "203.0.113.255");
    }
    std::this_thread::sleep_for(std::chrono::microseconds(2000 + round * 377));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const std::string got = read_bytes(path_);
    EXPECT_TRUE(got == "192.0.2.1\r\n" || got == "203.0.113.255\r\n") << got;
  }
  // A kill between writing the new file and renaming it leaves that file behind, under a
  // hidden name of its own.
  for (const std::string& name : names())
    EXPECT_TRUE(name == "out.txt" || name.rfind(".out.txt.", 0) == 0) << name;
}

}  // namespace
