#include <cerrno>

#include "host/dir_search.h"
#include "host/safe_tree.h"
#include "host/win32.h"

namespace host {

namespace {

// A name of exactly one level that Windows can hold. Callers split paths
// and check names already; this keeps a slip there from leaving the tree.
bool OneLevel(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\") == std::string::npos && UnusableName(name).empty();
}

// Opens the directory `path` and keeps it open without sharing deletion:
// while the handle is held, nobody can rename or remove the level, nor put
// a junction or a link in its place.
TreeResult Hold(const std::string& path, HANDLE* out) {
  HANDLE h = ::CreateFileW(win32::PathW(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return TreeResult::kBlocked;
  BY_HANDLE_FILE_INFORMATION info;
  TreeResult result = TreeResult::kOk;
  if (!::GetFileInformationByHandle(h, &info)) {
    result = TreeResult::kBlocked;
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    result = TreeResult::kUnsafe;  // a junction or a symbolic link is never entered
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    result = TreeResult::kBlocked;
  }
  if (result != TreeResult::kOk) {
    ::CloseHandle(h);
    return result;
  }
  *out = h;
  return TreeResult::kOk;
}

// The levels of `components` below the working directory, made where
// missing and each held open; `*path` is the last one's relative path.
TreeResult WalkLevels(const std::vector<std::string>& components, std::string* path,
                      std::vector<HANDLE>* held, bool* created) {
  path->clear();
  for (const std::string& level : components) {
    if (!OneLevel(level)) return TreeResult::kUnsafe;
    const std::string next = path->empty() ? level : *path + "\\" + level;
    const std::wstring wide = win32::PathW(next);
    if (::GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) {
      if (::CreateDirectoryW(wide.c_str(), nullptr)) {
        *created = true;
      } else if (::GetLastError() != ERROR_ALREADY_EXISTS) {
        return TreeResult::kBlocked;
      }
    }
    HANDLE h;
    const TreeResult result = Hold(next, &h);
    if (result != TreeResult::kOk) return result;
    held->push_back(h);
    *path = next;
  }
  return TreeResult::kOk;
}

void Release(std::vector<HANDLE>* held) {
  for (HANDLE h : *held) ::CloseHandle(h);
  held->clear();
}

}  // namespace

struct SafeTree::Folder {
  std::string path;          // relative to the working directory, "" for it
  std::vector<HANDLE> held;  // every level, held open while it is the current one
  ~Folder() { Release(&held); }
};

TreeResult OpenDirectoryBelow(const std::vector<std::string>& components, File* dir,
                              bool* created) {
  *created = false;
  std::string path;
  std::vector<HANDLE> held;
  const TreeResult result = WalkLevels(components, &path, &held, created);
  if (result == TreeResult::kOk && !held.empty()) {
    // The last level's handle goes to the caller; the others are let go.
    const int fd = win32::DescriptorFor(held.back());
    held.pop_back();
    Release(&held);
    if (fd < 0) return TreeResult::kBlocked;
    dir->Adopt(fd);
    return result;
  }
  Release(&held);
  if (result == TreeResult::kOk) {
    HANDLE h;
    if (Hold(".", &h) != TreeResult::kOk) return TreeResult::kBlocked;
    const int fd = win32::DescriptorFor(h);
    if (fd < 0) return TreeResult::kBlocked;
    dir->Adopt(fd);
  }
  return result;
}

SafeTree::SafeTree() = default;
SafeTree::~SafeTree() = default;

TreeResult SafeTree::Enter(const std::vector<std::string>& components, bool* created) {
  *created = false;
  if (current_ != nullptr && components == components_) return TreeResult::kOk;
  current_ = nullptr;
  dir_.reset();
  top_ = std::make_unique<Folder>();
  TreeResult result = WalkLevels(components, &top_->path, &top_->held, created);
  // The folder's own handle, for the files planned in it: they may be made
  // after the tree has moved on, and the folder stays held for them.
  HANDLE own = INVALID_HANDLE_VALUE;
  if (result == TreeResult::kOk) {
    if (top_->held.empty()) {
      result = Hold(".", &own);
    } else if (!::DuplicateHandle(::GetCurrentProcess(), top_->held.back(), ::GetCurrentProcess(),
                                  &own, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
      result = TreeResult::kBlocked;
    }
  }
  const int fd = result == TreeResult::kOk ? win32::DescriptorFor(own) : -1;
  if (fd < 0) {
    top_.reset();
    return result == TreeResult::kOk ? TreeResult::kBlocked : result;
  }
  auto dir = std::make_shared<File>();
  dir->Adopt(fd);
  dir_ = std::move(dir);
  components_ = components;
  current_ = top_.get();
  return TreeResult::kOk;
}

SafeTree::Target SafeTree::Find(const std::string& name) {
  Target target;
  target.spelling = name;
  if (current_ == nullptr || !OneLevel(name)) return target;
  const std::string path = current_->path.empty() ? name : current_->path + "\\" + name;
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileExW(win32::PathW(path).c_str(), FindExInfoBasic, &data,
                                   FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return target;
  ::FindClose(find);
  target.exists = true;
  target.spelling = win32::Narrow(data.cFileName);
  target.is_link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  win32::PathIdentity(path, &target.device, &target.inode);
  return target;
}

namespace {

// The folder open as `dir`, as a path the W functions take whatever its
// length; the folder is held, so the path stays its own.
bool FolderPath(const File& dir, std::wstring* out) {
  HANDLE h = win32::HandleOf(dir.fd());
  const DWORD n = ::GetFinalPathNameByHandleW(h, nullptr, 0, FILE_NAME_NORMALIZED);
  if (n == 0) return false;
  std::wstring path(n, L'\0');
  const DWORD got = ::GetFinalPathNameByHandleW(h, path.data(), n, FILE_NAME_NORMALIZED);
  if (got == 0 || got >= n) return false;
  path.resize(got);
  *out = std::move(path);
  return true;
}

bool CreateIn(const File& dir, const SafeTree::Target& target, File* out) {
  std::wstring wide;
  if (!FolderPath(dir, &wide)) {
    win32::SetErrnoFromLastError();
    return false;
  }
  wide += L'\\';
  wide += win32::Widen(target.spelling);
  // Written through, a link would lead elsewhere: the link itself goes, and
  // a fresh file is created in its place.
  if (target.is_link) {
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    const bool removed =
        (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            ? ::RemoveDirectoryW(wide.c_str())
            : ::DeleteFileW(wide.c_str());
    if (!removed) {
      win32::SetErrnoFromLastError();
      return false;
    }
  }
  HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_WRITE, win32::kShareAll, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    win32::SetErrnoFromLastError();
    return false;
  }
  // Whatever was put there since the lookup: only a regular file is written.
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      !::SetEndOfFile(h)) {
    ::CloseHandle(h);
    errno = kNotRegularFile;
    return false;
  }
  const int fd = win32::DescriptorFor(h);
  if (fd < 0) return false;
  out->Adopt(fd);
  return true;
}

}  // namespace

bool SafeTree::CreateFile(const Target& target, File* out) {
  if (current_ == nullptr || !OneLevel(target.spelling)) return false;
  return CreateIn(*dir_, target, out);
}

bool SafeTree::Plan(const Target& target, PlannedFile* planned) {
  if (current_ == nullptr || !OneLevel(target.spelling)) return false;
  planned->dir_ = dir_;
  planned->target_ = target;
  return true;
}

bool SafeTree::PlannedFile::Create(File* out) const {
  return dir_ != nullptr && CreateIn(*dir_, target_, out);
}

}  // namespace host
