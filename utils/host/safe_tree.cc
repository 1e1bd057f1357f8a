#include "host/safe_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "host/dir_search.h"

namespace host {

namespace {

// The existing name in `dirfd` that equals `name` ignoring case (first in
// search order), or `name` itself when there is none.
std::string ExistingSpelling(int dirfd, const std::string& name) {
  struct stat st;
  if (::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return name;
  const int copy = ::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (copy < 0) return name;
  DIR* d = ::fdopendir(copy);
  if (d == nullptr) {
    ::close(copy);
    return name;
  }
  std::string best;
  while (const dirent* e = ::readdir(d)) {
    const std::string candidate = e->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (EqualsIgnoreCase(candidate, name) && (best.empty() || NameLess(candidate, best))) {
      best = candidate;
    }
  }
  ::closedir(d);
  return best.empty() ? name : best;
}

}  // namespace

TreeResult OpenDirectoryBelow(const std::vector<std::string>& components, File* dir,
                              bool* created) {
  *created = false;
  int fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return TreeResult::kBlocked;
  File current;
  current.Adopt(fd);
  for (const std::string& wanted : components) {
    const std::string name = ExistingSpelling(current.fd(), wanted);
    struct stat st;
    if (::fstatat(current.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISLNK(st.st_mode)) return TreeResult::kUnsafe;
      if (!S_ISDIR(st.st_mode)) return TreeResult::kBlocked;
    } else {
      if (::mkdirat(current.fd(), name.c_str(), 0777) != 0) return TreeResult::kBlocked;
      *created = true;
    }
    const int next =
        ::openat(current.fd(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) return errno == ELOOP ? TreeResult::kUnsafe : TreeResult::kBlocked;
    current.Adopt(next);
  }
  *dir = std::move(current);
  return TreeResult::kOk;
}

bool CreateFileIn(const File& dir, const std::string& name, File* out) {
  const std::string spelling = ExistingSpelling(dir.fd(), name);
  struct stat st;
  if (::fstatat(dir.fd(), spelling.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode)) {
    if (::unlinkat(dir.fd(), spelling.c_str(), 0) != 0) return false;
  }
  const int fd = ::openat(dir.fd(), spelling.c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  out->Adopt(fd);
  return true;
}

bool IsSameFileIn(const File& dir, const std::string& name, uint64_t device, uint64_t inode) {
  struct stat st;
  const std::string spelling = ExistingSpelling(dir.fd(), name);
  return ::fstatat(dir.fd(), spelling.c_str(), &st, 0) == 0 &&
         static_cast<uint64_t>(st.st_dev) == device && static_cast<uint64_t>(st.st_ino) == inode;
}

}  // namespace host
