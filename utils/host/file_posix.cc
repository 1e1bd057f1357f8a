#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "host/file.h"

namespace host {

namespace {

// Hands `n` bytes to `put(p, len, done)`, one write call writing p[0..len)
// with `done` bytes already written, until all are written; an interrupted
// call is repeated, and a call that writes nothing fails with EIO rather
// than spinning.
template <typename Put>
bool WriteAll(const void* buf, size_t n, Put put) {
  const auto* p = static_cast<const uint8_t*>(buf);
  size_t done = 0;
  while (done < n) {
    const ssize_t w = put(p + done, n - done, done);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (w == 0) {
      errno = EIO;
      return false;
    }
    done += static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool File::Open(const std::string& path, Mode mode) {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  // Never blocks in open(): a FIFO or a device where a file was expected is
  // refused below instead of waiting for a peer forever.
  int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  switch (mode) {
    case Mode::kRead:
    case Mode::kReadListed:
      flags |= O_RDONLY;
      break;
    case Mode::kReadWrite:
      flags |= O_RDWR;
      break;
    case Mode::kCreateTruncate:
      flags |= O_WRONLY | O_CREAT | O_TRUNC;
      break;
    case Mode::kCreateExclusive:
      flags |= O_RDWR | O_CREAT | O_EXCL;
      break;
  }
  do {
    fd_ = ::open(path.c_str(), flags, 0666);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) return false;
  // A name just listed as a regular file needs no second look: whatever
  // was swapped in since then fails at the first read (the descriptor does
  // not block).
  if (mode == Mode::kReadListed) return true;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = S_ISDIR(st.st_mode) ? EISDIR : kNotRegularFile;
    ::close(fd_);
    fd_ = -1;
    errno = error;
    return false;
  }
  return true;
}

void File::Adopt(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

bool File::Identity(uint64_t* device, uint64_t* inode) const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return false;
  *device = static_cast<uint64_t>(st.st_dev);
  *inode = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool IdentifyFile(const std::string& path, FileId* id) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  id->device = static_cast<uint64_t>(st.st_dev);
  id->inode = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool File::IsAt(const std::string& path) const {
  struct stat by_name, by_fd;
  return ::stat(path.c_str(), &by_name) == 0 && ::fstat(fd_, &by_fd) == 0 &&
         by_name.st_dev == by_fd.st_dev && by_name.st_ino == by_fd.st_ino;
}

bool File::ReadAt(int64_t offset, void* buf, size_t n, size_t* got) const {
  *got = 0;
  if (offset < 0) {
    errno = EINVAL;
    return false;
  }
  auto* p = static_cast<uint8_t*>(buf);
  while (*got < n) {
    const ssize_t r =
        ::pread(fd_, p + *got, n - *got, static_cast<off_t>(offset) + static_cast<off_t>(*got));
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (r == 0) break;
    *got += static_cast<size_t>(r);
  }
  return true;
}

bool File::WriteAt(int64_t offset, const void* buf, size_t n) {
  if (offset < 0) {
    errno = EINVAL;
    return false;
  }
  return WriteAll(buf, n, [&](const uint8_t* p, size_t len, size_t done) {
    return ::pwrite(fd_, p, len, static_cast<off_t>(offset) + static_cast<off_t>(done));
  });
}

bool File::Write(const void* buf, size_t n) {
  return WriteAll(buf, n,
                  [&](const uint8_t* p, size_t len, size_t) { return ::write(fd_, p, len); });
}

int64_t File::Size() const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool File::Sync() { return ::fdatasync(fd_) == 0; }

bool File::Truncate(int64_t length) { return ::ftruncate(fd_, static_cast<off_t>(length)) == 0; }

bool File::Lock(bool exclusive, bool wait) {
  const int op = (exclusive ? LOCK_EX : LOCK_SH) | (wait ? 0 : LOCK_NB);
  int rc;
  do {
    rc = ::flock(fd_, op);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

bool File::Close() {
  if (fd_ < 0) return true;
  const int rc = ::close(std::exchange(fd_, -1));
  return rc == 0 || errno == EINTR;
}

bool CreateNewFile(const std::string& path, const void* content, size_t n, File* file) {
  const std::string dir = HostDirName(path);
  // An unnamed file gets its content and lock first and is then linked under
  // its name; linking fails if the name exists, so nothing is replaced.
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (fd >= 0) {
    File tmp;
    tmp.Adopt(fd);
    if (!tmp.Lock(true, false) || !tmp.WriteAt(0, content, n)) return false;
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      *file = std::move(tmp);
      return true;
    }
    if (errno == EEXIST || !IsDirectory(dir.empty() ? "." : dir)) return false;
    // No /proc to link through: fall back below.
  }
  // Without unnamed files: create, lock, fill. Another process may open the
  // new file before it is locked; it then sees it empty for a moment.
  File tmp;
  if (!tmp.Open(path, File::Mode::kCreateExclusive)) return false;
  if (!tmp.Lock(true, false) || !tmp.WriteAt(0, content, n)) return false;
  *file = std::move(tmp);
  return true;
}

bool CreateUniqueFile(const std::string& prefix, File* file, std::string* path) {
  std::string name = prefix + "XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return false;
  file->Adopt(fd);
  *path = name;
  // mkstemp makes the file private; the result should look like any new file.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return ::fchmod(fd, 0666 & ~mask) == 0;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool RenameOver(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool MakeDirectory(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsSymbolicLink(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string UnusableName(std::string_view) { return std::string(); }

std::string FileBehind(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string out = real;
  std::free(real);
  return out;
}

}  // namespace host
