#include "host/temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace host {

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when `name` in `dirfd` is the very file open as `fd` (not a link to it).
bool NameLeadsTo(int dirfd, const std::string& name, int fd) {
  struct stat by_name, by_fd;
  return ::fstatat(dirfd, name.c_str(), &by_name, AT_SYMLINK_NOFOLLOW) == 0 &&
         ::fstat(fd, &by_fd) == 0 && SameFile(by_name, by_fd);
}

// Gives `file` the permission bits of `like`, and its owner and group where
// the process may set them (a user may give away no file, but may keep a
// group he belongs to).
bool CopyOwnership(const File& like, File* file) {
  struct stat want;
  if (::fstat(like.fd(), &want) != 0) return false;
  if (::fchown(file->fd(), want.st_uid, want.st_gid) != 0) {
    const int ignored = ::fchown(file->fd(), static_cast<uid_t>(-1), want.st_gid);
    (void)ignored;
  }
  // After the owner: a change of owner clears the set-id bits.
  return ::fchmod(file->fd(), want.st_mode & 07777) == 0;
}

}  // namespace

TempFile::~TempFile() {
  if (file_.is_open() && !renamed_ && NameLeadsTo(dir_.fd(), name_, file_.fd())) {
    ::unlinkat(dir_.fd(), name_.c_str(), 0);
  }
}

bool TempFile::Create(const std::string& dir, const std::string& name, const File& like,
                      int attempts) {
  dir_path_ = dir;
  name_ = name;
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  dir_.Adopt(fd);
  for (int i = 0; i < attempts; ++i) {
    bool retry = false;
    if (TryCreate(like, &retry)) return true;
    if (!retry) return false;
  }
  errno = EEXIST;
  return false;
}

bool TempFile::TryCreate(const File& like, bool* retry) {
  const int dirfd = dir_.fd();
  const char* name = name_.c_str();
  const int fd = ::openat(dirfd, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) {
    File fresh;
    fresh.Adopt(fd);
    // Another run may have found the new file before it was locked and
    // taken it for a leftover; it then removes the name, and we start over.
    if (!fresh.Lock(true, false) || !NameLeadsTo(dirfd, name_, fresh.fd())) {
      *retry = true;
      return false;
    }
    if (!CopyOwnership(like, &fresh)) return false;
    file_ = std::move(fresh);
    return true;
  }
  if (errno != EEXIST) return false;

  struct stat st;
  if (::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    *retry = errno == ENOENT;
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;  // a folder is somebody's data, never removed
    return false;
  }
  if (S_ISREG(st.st_mode)) {
    struct stat own;
    // A second name of the file being replaced: waiting for its lock would
    // wait for ourselves. Only the name goes.
    const bool is_like = ::fstat(like.fd(), &own) == 0 && SameFile(st, own);
    if (!is_like) {
      // Another run may be building its file there: wait until it is done,
      // then look again. What is still there after that is a leftover.
      const int other = ::openat(dirfd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      if (other < 0) {
        *retry = errno == ENOENT || errno == ELOOP;
        return false;
      }
      File held;
      held.Adopt(other);
      if (!held.Lock(true, true)) return false;
      if (!NameLeadsTo(dirfd, name_, held.fd())) {
        *retry = true;
        return false;
      }
    }
  }
  // A leftover, a symbolic link, a FIFO, a device: the name goes, never what
  // it leads to.
  if (::unlinkat(dirfd, name, 0) != 0 && errno != ENOENT) return false;
  *retry = true;
  return false;
}

bool TempFile::ReplaceOver(const std::string& target) {
  if (!file_.is_open() || !NameLeadsTo(dir_.fd(), name_, file_.fd())) return false;
  if (::renameat(dir_.fd(), name_.c_str(), AT_FDCWD, target.c_str()) != 0) return false;
  renamed_ = true;
  // The rename is done either way; a folder that cannot be synced (some
  // file systems refuse) does not undo it.
  ::fsync(dir_.fd());
  return true;
}

}  // namespace host
