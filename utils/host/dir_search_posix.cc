#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "about/ascii.h"
#include "host/dir_search.h"
#include "host/file.h"

namespace host {

namespace {

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

}  // namespace

bool ListDirectory(const std::string& dir, std::vector<DirEntry>* out) {
  out->clear();
  const std::string path = dir.empty() ? std::string(".") : dir;
  DirHandle d(opendir(path.c_str()));
  if (!d) return false;
  const int dfd = dirfd(d.get());
  while (const dirent* e = readdir(d.get())) {
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    DirEntry entry;
    entry.name = std::string(name);
    if (S_ISLNK(st.st_mode)) {
      entry.is_link = true;
      if (fstatat(dfd, e->d_name, &st, 0) != 0) continue;  // dangling link
    }
    entry.device = static_cast<uint64_t>(st.st_dev);
    entry.inode = static_cast<uint64_t>(st.st_ino);
    if (S_ISDIR(st.st_mode)) {
      entry.is_dir = true;
    } else if (S_ISREG(st.st_mode)) {
      entry.size = static_cast<int64_t>(st.st_size);
    } else {
      continue;  // FIFOs, sockets and devices are never reported
    }
    out->push_back(std::move(entry));
  }
  std::sort(out->begin(), out->end(),
            [](const DirEntry& a, const DirEntry& b) { return NameLess(a.name, b.name); });
  return true;
}

void ForEachName(int dirfd, const std::function<void(const std::string&)>& visit) {
  // A descriptor of its own, since the stream takes over and closes it.
  const int copy = ::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (copy < 0) return;
  DirHandle d(::fdopendir(copy));
  if (!d) {
    ::close(copy);
    return;
  }
  while (const dirent* e = ::readdir(d.get())) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") visit(name);
  }
}

std::string ExistingSpelling(int dirfd, std::string_view name) {
  std::string best;
  ForEachName(dirfd, [&](const std::string& candidate) {
    if (about::EqualsIgnoreCase(candidate, name) && (best.empty() || NameLess(candidate, best))) {
      best = candidate;
    }
  });
  return best;
}

std::string ResolvePath(const std::string& path) {
  if (path.empty()) return path;
  std::string resolved;
  size_t pos = 0;
  if (path[0] == '/') {
    resolved = "/";
    pos = 1;
  }
  bool resolving = true;
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    std::string comp = path.substr(pos, slash - pos);
    const bool has_more = slash < path.size();
    if (resolving && !comp.empty() && comp != "." && comp != "..") {
      const std::string exact = resolved + comp;
      struct stat st;
      if (lstat(exact.c_str(), &st) != 0) {
        File dir;
        const int fd =
            ::open(resolved.empty() ? "." : resolved.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) dir.Adopt(fd);
        const std::string best = fd >= 0 ? ExistingSpelling(fd, comp) : std::string();
        if (!best.empty()) {
          comp = best;
        } else {
          resolving = false;  // nothing below a missing component exists
        }
      }
    }
    resolved += comp;
    if (has_more) resolved += '/';
    pos = slash + 1;
  }
  return resolved;
}

}  // namespace host
