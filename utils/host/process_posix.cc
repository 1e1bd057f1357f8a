#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "host/process.h"

namespace host {

std::string_view SystemName() { return "Linux"; }

void GuardStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() returns the lowest free descriptor, which is this one: the
    // lower ones are open by now.
    const int got = ::open("/dev/null", (fd == 0 ? O_WRONLY : O_RDONLY));
    if (got != fd && got >= 0) ::close(got);
  }
  ::signal(SIGPIPE, SIG_IGN);
}

std::vector<std::string> CommandLineUtf8(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool WriteFully(int fd, const void* data, size_t n, int* error) {
  const auto* p = static_cast<const char*>(data);
  const char* const end = p + n;
  while (p < end) {
    const ssize_t w = ::write(fd, p, static_cast<size_t>(end - p));
    if (w > 0) {
      p += w;
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A console inherited in non-blocking mode: wait until it takes more.
      pollfd wait = {fd, POLLOUT, 0};
      if (::poll(&wait, 1, -1) < 0 && errno != EINTR) {
        *error = errno;
        return false;
      }
    } else {
      *error = w < 0 ? errno : 0;
      return false;
    }
  }
  return true;
}

}  // namespace host
