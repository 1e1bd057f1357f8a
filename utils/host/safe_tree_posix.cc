#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "about/ascii.h"
#include "host/dir_search.h"
#include "host/safe_tree.h"

namespace host {

namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// A name of exactly one level: no separator, not "", "." or "..". Callers
// split paths already; this keeps a slip there from leaving the tree.
bool OneLevel(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

bool Exists(int dirfd, const std::string& name) {
  struct stat st;
  return ::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// What stands at a name, as `st` (from a lookup not following links) shows.
void Describe(const struct stat& st, SafeTree::Target* target) {
  target->exists = true;
  target->is_link = S_ISLNK(st.st_mode);
  target->is_other = !S_ISLNK(st.st_mode) && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
  target->device = static_cast<uint64_t>(st.st_dev);
  target->inode = static_cast<uint64_t>(st.st_ino);
}

// Opens `name` in `dirfd` for writing, creating it, never following a link
// nor blocking; `how` adds O_EXCL or O_TRUNC.
int OpenForWriting(int dirfd, const char* name, int how) {
  int fd;
  do {
    fd = ::openat(dirfd, name,
                  O_WRONLY | O_CREAT | how | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Creates or empties `target` in the directory `dirfd`; see CreateFile.
bool CreateIn(int dirfd, const SafeTree::Target& target, File* out) {
  const char* name = target.spelling.c_str();
  if (!target.exists) {
    // Made anew, the file is a regular one of ours, with nothing to check;
    // only a name that appeared since the lookup takes the way below.
    const int fd = OpenForWriting(dirfd, name, O_EXCL);
    if (fd >= 0) {
      out->Adopt(fd);
      return true;
    }
    struct stat st;
    if (errno != EEXIST || ::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    SafeTree::Target found = target;
    Describe(st, &found);
    return CreateIn(dirfd, found, out);
  }
  // Written through, a link would lead elsewhere, and a FIFO or a device
  // would block the open or take the bytes somewhere else: each is removed
  // first, so a fresh file is created in its place.
  if ((target.is_link || target.is_other) && ::unlinkat(dirfd, name, 0) != 0) return false;
  const int fd = OpenForWriting(dirfd, name, O_TRUNC);
  if (fd < 0) return false;
  out->Adopt(fd);
  // Whatever was put there since the lookup: only a regular file is written.
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    out->Close();
    return false;
  }
  return true;
}

std::string ScanForSpelling(int dirfd, const std::string& name) {
  if (Exists(dirfd, name)) return name;
  const std::string best = ExistingSpelling(dirfd, name);
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
    const int next = ::openat(current.fd(), name.c_str(), kDirectoryFlags);
    if (next < 0) return errno == ELOOP ? TreeResult::kUnsafe : TreeResult::kBlocked;
    current.Adopt(next);
  }
  *dir = std::move(current);
  return TreeResult::kOk;
}

// What the run knows of one folder it has entered (or the working
// directory): its sub-folders entered so far, by their spelling on disk, and
// its names.
struct SafeTree::Folder {
  std::unordered_map<std::string, std::unique_ptr<Folder>> children;
  // Every name in the folder by its lower-cased form, first in NameLess
  // order; built at the first lookup that misses the exact spelling.
  bool indexed = false;
  std::unordered_map<std::string, std::string> by_folded_name;
  bool made_here = false;  // and so indexed from the start
};

SafeTree::SafeTree() : top_(std::make_unique<Folder>()) {}

SafeTree::~SafeTree() = default;

void SafeTree::Note(Folder* folder, const std::string& name) {
  if (!folder->indexed) return;
  auto [it, fresh] = folder->by_folded_name.emplace(about::AsciiLower(name), name);
  if (!fresh && NameLess(name, it->second)) it->second = name;
}

const std::string* SafeTree::Lookup(Folder* folder, int fd, const std::string& name) {
  if (!folder->indexed) {
    ForEachName(fd, [&](const std::string& candidate) {
      ++names_read_;
      auto [it, fresh] = folder->by_folded_name.emplace(about::AsciiLower(candidate), candidate);
      if (!fresh && NameLess(candidate, it->second)) it->second = candidate;
    });
    folder->indexed = true;
  }
  const auto it = folder->by_folded_name.find(about::AsciiLower(name));
  return it == folder->by_folded_name.end() ? nullptr : &it->second;
}

bool SafeTree::Resolve(Folder* folder, int fd, const std::string& wanted, std::string* name,
                       struct stat* st) {
  *name = wanted;
  if (::fstatat(fd, wanted.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0) return true;
  const std::string* spelling = Lookup(folder, fd, wanted);
  if (spelling == nullptr || *spelling == wanted ||
      ::fstatat(fd, spelling->c_str(), st, AT_SYMLINK_NOFOLLOW) != 0) {
    return false;
  }
  *name = *spelling;
  return true;
}

TreeResult SafeTree::Walk(const std::vector<std::string>& components, bool* created) {
  Folder* folder = top_.get();
  File current;
  int at = root_.fd();
  if (components.empty()) {
    const int fd = ::openat(at, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return TreeResult::kBlocked;
    current.Adopt(fd);
  }
  for (const std::string& wanted : components) {
    std::string name;
    struct stat st;
    bool made = false;
    if (Resolve(folder, at, wanted, &name, &st)) {
      if (S_ISLNK(st.st_mode)) return TreeResult::kUnsafe;
      if (!S_ISDIR(st.st_mode)) return TreeResult::kBlocked;
    } else {
      if (::mkdirat(at, name.c_str(), 0777) != 0) return TreeResult::kBlocked;
      *created = made = true;
      Note(folder, name);
    }
    const int next = ::openat(at, name.c_str(), kDirectoryFlags);
    if (next < 0) return errno == ELOOP ? TreeResult::kUnsafe : TreeResult::kBlocked;
    current.Adopt(next);
    at = next;
    std::unique_ptr<Folder>& child = folder->children[name];
    if (!child) child = std::make_unique<Folder>();
    folder = child.get();
    if (made) {
      // Just made, so empty: its index needs no scan.
      folder->by_folded_name.clear();
      folder->indexed = true;
      folder->made_here = true;
    }
  }
  dir_ = std::make_shared<const File>(std::move(current));
  current_ = folder;
  return TreeResult::kOk;
}

TreeResult SafeTree::Enter(const std::vector<std::string>& components, bool* created) {
  *created = false;
  if (current_ != nullptr && components == components_) return TreeResult::kOk;
  current_ = nullptr;
  dir_.reset();
  for (const std::string& level : components) {
    if (!OneLevel(level)) return TreeResult::kUnsafe;
  }
  if (!root_.is_open()) {
    const int fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return TreeResult::kBlocked;
    root_.Adopt(fd);
  }
  const TreeResult result = Walk(components, created);
  if (result == TreeResult::kOk) components_ = components;
  return result;
}

SafeTree::Target SafeTree::Find(const std::string& name) {
  Target target;
  target.spelling = name;
  if (current_ == nullptr) return target;
  // A folder made by this run holds only the names the index has, short of
  // another program's at the same time, which the making of the file meets:
  // a name the index lacks costs no call.
  if (current_->made_here &&
      current_->by_folded_name.find(about::AsciiLower(name)) == current_->by_folded_name.end()) {
    return target;
  }
  struct stat st;
  if (Resolve(current_, dir_->fd(), name, &target.spelling, &st)) Describe(st, &target);
  return target;
}

bool SafeTree::CreateFile(const Target& target, File* out) {
  if (current_ == nullptr || !OneLevel(target.spelling)) return false;
  if (!CreateIn(dir_->fd(), target, out)) return false;
  Note(current_, target.spelling);
  return true;
}

bool SafeTree::Plan(const Target& target, PlannedFile* planned) {
  if (current_ == nullptr || !OneLevel(target.spelling)) return false;
  planned->dir_ = dir_;
  planned->target_ = target;
  Note(current_, target.spelling);
  return true;
}

bool SafeTree::PlannedFile::Create(File* out) const {
  return dir_ != nullptr && CreateIn(dir_->fd(), target_, out);
}

}  // namespace host
