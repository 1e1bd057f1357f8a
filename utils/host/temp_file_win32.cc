#include <cerrno>
#include <cstddef>
#include <cstring>
#include <vector>

#include "host/temp_file.h"
#include "host/win32.h"

namespace host {

namespace {

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  const char last = dir.back();
  return (last == '/' || last == '\\') ? dir + name : dir + "/" + name;
}

// Windows keeps a deleted name in place until every handle to its file is
// closed, and a second name of the archive, which this run holds open, would
// keep the name taken for the whole run. Moved aside first, the name is
// free at once; the aside name goes with the last handle.
bool DeleteNameNow(const std::wstring& path) {
  static LONG counter = 0;
  const std::wstring aside = path + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                             std::to_wstring(::InterlockedIncrement(&counter)) + L".gone";
  if (!::MoveFileExW(path.c_str(), aside.c_str(), 0)) return ::DeleteFileW(path.c_str());
  if (!::DeleteFileW(aside.c_str())) {
    // Not removable after all: the name goes back where it was.
    const DWORD error = ::GetLastError();
    ::MoveFileExW(aside.c_str(), path.c_str(), 0);
    ::SetLastError(error);
    return false;
  }
  return true;
}

// Renames the open `file` to `target` by its handle, over what is there,
// with POSIX semantics (Windows 10 and later, NTFS): false elsewhere.
bool RenameOpenFile(const File& file, const std::string& target) {
  // The name as the system's own paths spell it (\??\C:\... or
  // \??\UNC\server\...): the call takes no relative or DOS path.
  std::wstring full = win32::PathW(target);
  if (full.rfind(L"\\\\?\\", 0) == 0) {
    full = full.substr(4);
  } else {
    std::wstring buffer;
    if (!win32::FullPath(full, &buffer)) return false;
    full = buffer.rfind(L"\\\\", 0) == 0 ? L"UNC" + buffer.substr(1) : buffer;
  }
  full = L"\\??\\" + full;
  const size_t name_bytes = full.size() * sizeof(wchar_t);
  std::vector<unsigned char> info(offsetof(FILE_RENAME_INFO, FileName) + name_bytes +
                                  sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(info.data());
  rename->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(name_bytes);
  std::memcpy(rename->FileName, full.c_str(), name_bytes + sizeof(wchar_t));
  // FileRenameInfoEx, which older headers do not name.
  constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
  return ::SetFileInformationByHandle(win32::HandleOf(file.fd()), kFileRenameInfoEx, rename,
                                      static_cast<DWORD>(info.size()));
}

}  // namespace

TempFile::~TempFile() {
  if (file_.is_open() && !renamed_) {
    const std::string path = Join(dir_path_, name_);
    const bool ours = file_.IsAt(path);
    file_.Close();
    if (ours) ::DeleteFileW(win32::PathW(path).c_str());
  }
}

bool TempFile::Create(const std::string& dir, const std::string& name, const File& like,
                      int attempts) {
  dir_path_ = dir;
  name_ = name;
  return CreateInRounds(like, attempts);
}

bool TempFile::TryCreate(const File& like, bool* retry) {
  const std::string path = Join(dir_path_, name_);
  File fresh;
  if (fresh.Open(path, File::Mode::kCreateExclusive)) {
    // Another run may have found the new file before it was locked and
    // taken it for a leftover; it then removes the name, and we start over.
    if (!fresh.Lock(true, false) || !fresh.IsAt(path)) {
      *retry = true;
      return false;
    }
    file_ = std::move(fresh);
    return true;
  }
  if (errno != EEXIST) return false;
  const std::wstring wide = win32::PathW(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *retry = ::GetLastError() == ERROR_FILE_NOT_FOUND;
    return false;
  }
  const bool is_link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !is_link) {
    errno = EISDIR;  // a folder is somebody's data, never removed
    return false;
  }
  if (!is_link) {
    uint64_t device = 0, inode = 0, own_device = 0, own_inode = 0;
    // A second name of the file being replaced: waiting for its lock would
    // wait for ourselves. Only the name goes.
    const bool is_like = win32::PathIdentity(path, &device, &inode) &&
                         like.Identity(&own_device, &own_inode) && device == own_device &&
                         inode == own_inode;
    if (!is_like) {
      // Another run may be building its file there: wait until it is done,
      // then look again. What is still there after that is a leftover.
      File held;
      if (!held.Open(path, File::Mode::kRead)) {
        *retry = errno == ENOENT;
        return false;
      }
      if (!held.Lock(true, true)) return false;
      if (!held.IsAt(path)) {
        *retry = true;
        return false;
      }
    }
  }
  // A leftover or a link: the name goes, never what a link leads to.
  const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                           ? ::RemoveDirectoryW(wide.c_str())
                           : DeleteNameNow(wide);
  if (!removed && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
    win32::SetErrnoFromLastError();
    return false;
  }
  *retry = true;
  return false;
}

bool TempFile::ReplaceOver(const std::string& target, File* open_target) {
  const std::string path = Join(dir_path_, name_);
  if (!file_.is_open() || !file_.IsAt(path)) return false;
  // The new file takes the name while both files stay open and locked: a
  // run that opened the old archive meanwhile waits for its lock and then
  // finds that the name leads to another file. Windows 10 and later rename
  // over a file that is open (the archive is shared for deletion) with
  // POSIX semantics. The file system's log makes the renames durable.
  if (RenameOpenFile(file_, target)) {
    renamed_ = true;
    file_.Close();
    return true;
  }
  // Elsewhere (older systems, FAT volumes, Wine) nothing is renamed over an
  // open file: both are closed first (the caller flushed this one to disk),
  // and a run that opens the old archive in the moment between makes this
  // rename fail, loudly, with both archives whole. Moving the old archive
  // aside first would keep the lock, but leave the name empty for a moment
  // that a crash or a run creating the archive anew could make lasting.
  // The rename is one step, and on disk before it returns.
  if (!file_.Close()) return false;
  open_target->Close();
  if (!::MoveFileExW(win32::PathW(path).c_str(), win32::PathW(target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    win32::SetErrnoFromLastError();
    return false;
  }
  renamed_ = true;
  return true;
}

}  // namespace host

namespace host {

// Windows has no unnamed files: the file is made under a hidden unique
// name beside its target and renamed over it whole.
StagedFile::~StagedFile() {
  if (!placed_ && !hidden_.empty()) {
    file_.Close();
    RemoveFile(hidden_);
  }
}

bool StagedFile::Create(const std::string& target, const std::string& hidden_prefix) {
  target_ = target;
  prefix_ = hidden_prefix;
  return CreateUniqueFile(HostDirName(target) + hidden_prefix, &file_, &hidden_);
}

bool StagedFile::PutInPlace() {
  // Windows renames no open file: closed first, flushed by the caller.
  const bool ok = file_.Close() && RenameOver(hidden_, target_);
  if (!ok) {
    int error = errno;
    // A target that another program holds open refuses the rename as
    // access denied; it is told apart by a sharing violation on opening it.
    if (error == EACCES) {
      HANDLE probe = ::CreateFileW(win32::PathW(target_).c_str(), DELETE, win32::kShareAll, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      if (probe != INVALID_HANDLE_VALUE) {
        ::CloseHandle(probe);
      } else if (::GetLastError() == ERROR_SHARING_VIOLATION) {
        error = kInUse;
      }
    }
    RemoveFile(hidden_);
    errno = error;
  }
  placed_ = ok;
  return ok;
}

}  // namespace host
