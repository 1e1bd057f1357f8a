#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host/temp_file.h"

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
  return CreateInRounds(like, attempts);
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

bool TempFile::ReplaceOver(const std::string& target, File*) {
  if (!file_.is_open() || !NameLeadsTo(dir_.fd(), name_, file_.fd())) return false;
  if (::renameat(dir_.fd(), name_.c_str(), AT_FDCWD, target.c_str()) != 0) return false;
  renamed_ = true;
  // The rename is done either way; a folder that cannot be synced (some
  // file systems refuse) does not undo it.
  ::fsync(dir_.fd());
  return true;
}

namespace {

// The hidden names an interrupt removes. The handler only reads them, and a
// name is complete before its flag says so.
constexpr int kInterruptSlots = 4;
char g_hidden_paths[kInterruptSlots][PATH_MAX];
std::atomic<bool> g_hidden_used[kInterruptSlots];

extern "C" void RemoveHiddenAndStop(int sig) {
  const int saved = errno;
  for (int i = 0; i < kInterruptSlots; ++i) {
    if (g_hidden_used[i].load()) ::unlink(g_hidden_paths[i]);
  }
  errno = saved;
  // The handler was reset to the default action on entry: once it returns,
  // the signal ends the process the way it would have, for its parent to see.
  ::raise(sig);
}

// Takes over SIGINT, SIGTERM and SIGHUP where they still have their default
// action; one that is ignored (nohup) or handled by someone stays so.
void CatchInterrupts() {
  static bool done = false;
  if (done) return;
  done = true;
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
    struct sigaction act {};
    act.sa_handler = RemoveHiddenAndStop;
    sigemptyset(&act.sa_mask);
    act.sa_flags = SA_RESETHAND;
    ::sigaction(sig, &act, nullptr);
  }
}

// The slot that now holds `path`, or -1 when none is free (the name is then
// left to the next run's sweep).
int RemoveOnInterrupt(const std::string& path) {
  CatchInterrupts();
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kInterruptSlots; ++i) {
    if (g_hidden_used[i].load()) continue;
    std::memcpy(g_hidden_paths[i], path.c_str(), path.size() + 1);
    g_hidden_used[i].store(true);
    return i;
  }
  return -1;
}

void KeepOnInterrupt(int slot) {
  if (slot >= 0) g_hidden_used[slot].store(false);
}

// Six letters that make a hidden name unlikely to be taken.
std::string RandomLetters() {
  static uint64_t state =
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      static_cast<uint64_t>(::getpid()) << 20;
  std::string out(6, 'a');
  for (char& c : out) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    c = static_cast<char>('a' + (state >> 33) % 26);
  }
  return out;
}

bool IsHiddenName(const char* name, const std::string& prefix) {
  return std::strncmp(name, prefix.c_str(), prefix.size()) == 0 &&
         std::strlen(name) == prefix.size() + 6;
}

// Removes the hidden files that stopped runs left in the folder: those no
// running process holds locked. Once per folder and process.
void SweepLeftovers(const File& dir, const std::string& dir_path, const std::string& prefix) {
  static std::set<std::string> swept;
  if (!swept.insert(dir_path + '\0' + prefix).second) return;
  const int fd = ::dup(dir.fd());
  if (fd < 0) return;
  DIR* stream = ::fdopendir(fd);
  if (stream == nullptr) {
    ::close(fd);
    return;
  }
  std::vector<std::string> found;
  while (const dirent* entry = ::readdir(stream)) {
    if (IsHiddenName(entry->d_name, prefix)) found.emplace_back(entry->d_name);
  }
  ::closedir(stream);
  for (const std::string& name : found) {
    const int other =
        ::openat(dir.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (other < 0) continue;
    File held;
    held.Adopt(other);
    struct stat st;
    if (::fstat(other, &st) == 0 && S_ISREG(st.st_mode) && held.Lock(true, false) &&
        NameLeadsTo(dir.fd(), name, other)) {
      ::unlinkat(dir.fd(), name.c_str(), 0);
    }
  }
}

constexpr int kNameAttempts = 100;

}  // namespace

StagedFile::~StagedFile() {
  if (!placed_) Forget();
}

bool StagedFile::Create(const std::string& target, const std::string& hidden_prefix) {
  target_ = target;
  prefix_ = hidden_prefix;
  const std::string dir = HostDirName(target);
  const int dirfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirfd < 0) return false;
  dir_.Adopt(dirfd);
  SweepLeftovers(dir_, dir, prefix_);
#ifdef O_TMPFILE
  // The unnamed file is named later through /proc; without it, a hidden name.
  if (::access("/proc/self/fd", X_OK) == 0) {
    // Mode 0666: the kernel takes the umask off, as for any new file.
    const int fd = ::openat(dirfd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0) {
      file_.Adopt(fd);
      // Held until the process ends, so a sweep never takes it for a leftover.
      return file_.Lock(true, false);
    }
  }
#endif
  return CreateNamed();
}

bool StagedFile::CreateNamed() {
  const std::string dir = HostDirName(target_);
  for (int i = 0; i < kNameAttempts; ++i) {
    const std::string name = prefix_ + RandomLetters();
    const int fd =
        ::openat(dir_.fd(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    File fresh;
    fresh.Adopt(fd);
    // A sweep of another run may find the name before it is locked, and
    // remove it: then another name.
    if (!fresh.Lock(true, false) || !NameLeadsTo(dir_.fd(), name, fd)) continue;
    file_ = std::move(fresh);
    hidden_ = name;
    slot_ = RemoveOnInterrupt(dir + name);
    return true;
  }
  errno = EEXIST;
  return false;
}

bool StagedFile::PutInPlace() {
  if (hidden_.empty()) {
    const std::string dir = HostDirName(target_);
    const std::string proc = "/proc/self/fd/" + std::to_string(file_.fd());
    for (int i = 0; i < kNameAttempts && hidden_.empty(); ++i) {
      const std::string name = prefix_ + RandomLetters();
      // Known to an interrupt before the name exists.
      slot_ = RemoveOnInterrupt(dir + name);
      if (::linkat(AT_FDCWD, proc.c_str(), dir_.fd(), name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        hidden_ = name;
        break;
      }
      const int error = errno;
      KeepOnInterrupt(std::exchange(slot_, -1));
      if (error != EEXIST) {
        errno = error;
        return false;
      }
    }
    if (hidden_.empty()) {
      errno = EEXIST;
      return false;
    }
  }
  if (::renameat(dir_.fd(), hidden_.c_str(), AT_FDCWD, target_.c_str()) != 0) {
    const int error = errno;
    Forget();
    errno = error;
    return false;
  }
  placed_ = true;
  KeepOnInterrupt(std::exchange(slot_, -1));
  hidden_.clear();
  // The rename is done either way; a folder that cannot be synced (some
  // file systems refuse) does not undo it.
  ::fsync(dir_.fd());
  return true;
}

void StagedFile::Forget() {
  if (!hidden_.empty() && file_.is_open() && NameLeadsTo(dir_.fd(), hidden_, file_.fd())) {
    ::unlinkat(dir_.fd(), hidden_.c_str(), 0);
  }
  hidden_.clear();
  KeepOnInterrupt(std::exchange(slot_, -1));
}

}  // namespace host
