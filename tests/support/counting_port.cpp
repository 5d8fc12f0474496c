// counting_port: a port on 127.0.0.1 that answers nothing and counts what reaches it.
//
//   counting_port PORT_FILE SEEN_FILE
//
// Writes the port number to PORT_FILE once listening, and "<connections> <bytes>" to
// SEEN_FILE at the start and after every connection and every read; both files are written
// under another name and renamed, so a reader never sees half a line. Runs until SIGTERM.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

bool write_file(const std::string& path, const std::string& text) {
  const std::string tmp = path + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "w");
  if (!f) return false;
  std::fputs(text.c_str(), f);
  if (std::fclose(f) != 0) return false;
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: counting_port PORT_FILE SEEN_FILE\n");
    return 2;
  }
  const std::string port_file = argv[1], seen_file = argv[2];
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(listener, 16) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    std::perror("counting_port");
    return 1;
  }
  unsigned long long connections = 0, bytes = 0;
  const auto note = [&] {
    return write_file(seen_file, std::to_string(connections) + " " + std::to_string(bytes) + "\n");
  };
  if (!note() || !write_file(port_file, std::to_string(ntohs(address.sin_port)) + "\n")) {
    std::perror("counting_port");
    return 1;
  }
  // The listener first, then every open connection; one thread polls them all.
  std::vector<pollfd> fds = {{listener, POLLIN, 0}};
  for (;;) {
    if (poll(fds.data(), fds.size(), -1) < 0) continue;
    for (std::size_t i = fds.size(); i-- > 1;) {
      if (!fds[i].revents) continue;
      char buffer[65536];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        bytes += static_cast<unsigned long long>(n);
        note();
      } else {
        close(fds[i].fd);
        fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
    if (fds[0].revents & POLLIN) {
      const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection >= 0) {
        ++connections;
        note();
        fds.push_back({connection, POLLIN, 0});
      }
    }
  }
}
