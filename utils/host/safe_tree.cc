#include "host/safe_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "host/dir_search.h"

namespace host {

namespace {

// Calls `visit` with every name in the directory `dirfd`.
template <typename Visit>
void ForEachName(int dirfd, Visit visit) {
  const int copy = ::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (copy < 0) return;
  DIR* d = ::fdopendir(copy);
  if (d == nullptr) {
    ::close(copy);
    return;
  }
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") visit(name);
  }
  ::closedir(d);
}

// A name of exactly one level: no separator, not "", "." or "..". Callers
// split paths already; this keeps a slip there from leaving the tree.
bool OneLevel(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool Exists(int dirfd, const std::string& name) {
  struct stat st;
  return ::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

std::string ScanForSpelling(int dirfd, const std::string& name) {
  if (Exists(dirfd, name)) return name;
  std::string best;
  ForEachName(dirfd, [&](const std::string& candidate) {
    if (EqualsIgnoreCase(candidate, name) && (best.empty() || NameLess(candidate, best))) {
      best = candidate;
    }
  });
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
    if (!OneLevel(wanted)) return TreeResult::kUnsafe;
    const std::string name = ScanForSpelling(current.fd(), wanted);
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

TreeResult SafeTree::Enter(const std::vector<std::string>& components, bool* created) {
  if (open_ && components == components_) {
    *created = false;
    return TreeResult::kOk;
  }
  open_ = false;
  indexed_ = false;
  by_folded_name_.clear();
  const TreeResult result = OpenDirectoryBelow(components, &dir_, created);
  if (result == TreeResult::kOk) {
    components_ = components;
    open_ = true;
  }
  return result;
}

SafeTree::Target SafeTree::Find(const std::string& name) {
  Target target;
  target.spelling = name;
  struct stat st;
  bool found = ::fstatat(dir_.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (!found) {
    if (!indexed_) {
      ForEachName(dir_.fd(), [&](const std::string& candidate) {
        auto [it, fresh] = by_folded_name_.emplace(AsciiLower(candidate), candidate);
        if (!fresh && NameLess(candidate, it->second)) it->second = candidate;
      });
      indexed_ = true;
    }
    const auto it = by_folded_name_.find(AsciiLower(name));
    if (it == by_folded_name_.end()) return target;
    target.spelling = it->second;
    found = ::fstatat(dir_.fd(), target.spelling.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  }
  target.exists = found;
  if (found) {
    target.is_link = S_ISLNK(st.st_mode);
    target.device = static_cast<uint64_t>(st.st_dev);
    target.inode = static_cast<uint64_t>(st.st_ino);
  }
  return target;
}

bool SafeTree::CreateFile(const Target& target, File* out) {
  if (!open_ || !OneLevel(target.spelling)) return false;
  const char* name = target.spelling.c_str();
  if (target.is_link && ::unlinkat(dir_.fd(), name, 0) != 0) return false;
  const int fd =
      ::openat(dir_.fd(), name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  out->Adopt(fd);
  if (indexed_) {
    auto [it, fresh] = by_folded_name_.emplace(AsciiLower(target.spelling), target.spelling);
    if (!fresh && NameLess(target.spelling, it->second)) it->second = target.spelling;
  }
  return true;
}

}  // namespace host
