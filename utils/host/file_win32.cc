#include <io.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "about/ascii.h"
#include "host/dir_search.h"
#include "host/file.h"
#include "host/win32.h"

namespace host {

namespace {

using win32::HandleOf;
using win32::kShareAll;
using win32::PathW;
using win32::SetErrnoFromLastError;

// The run's locks sit far beyond any data: Windows locks are mandatory for
// the bytes they cover, and the tools' own other handles must still read
// and write the file while it is locked.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kLockOffsetLow = 0xFFFFFFF0;

OVERLAPPED At(int64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
  o.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  return o;
}

constexpr size_t kMaxCall = size_t{1} << 30;

void Release(int fd) {
  OVERLAPPED o{};
  o.Offset = kLockOffsetLow;
  o.OffsetHigh = kLockOffsetHigh;
  ::UnlockFileEx(HandleOf(fd), 0, 1, 0, &o);
  ::_close(fd);
}

}  // namespace

File::~File() {
  if (fd_ >= 0) Release(fd_);
}

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) Release(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool File::Open(const std::string& path, Mode mode) {
  if (fd_ >= 0) {
    Release(fd_);
    fd_ = -1;
  }
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  switch (mode) {
    case Mode::kRead:
    case Mode::kReadListed:
      break;
    case Mode::kReadWrite:
      access = GENERIC_READ | GENERIC_WRITE;
      break;
    case Mode::kCreateTruncate:
      access = GENERIC_WRITE;
      disposition = OPEN_ALWAYS;  // emptied below, once it is known to be a file
      break;
    case Mode::kCreateExclusive:
      // DELETE: a new file may take its final name while it is open.
      access = GENERIC_READ | GENERIC_WRITE | DELETE;
      disposition = CREATE_NEW;
      break;
  }
  const std::wstring wide = PathW(path);
  HANDLE h = ::CreateFileW(wide.c_str(), access, kShareAll, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      errno = EISDIR;
    } else {
      win32::SetErrno(error);
    }
    return false;
  }
  // A device name (NUL, CON, COM1, ...) opens the device: never a file.
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    errno = kNotRegularFile;
    return false;
  }
  if (mode == Mode::kCreateTruncate && !::SetEndOfFile(h)) {
    SetErrnoFromLastError();
    ::CloseHandle(h);
    return false;
  }
  fd_ = win32::DescriptorFor(h);
  return fd_ >= 0;
}

void File::Adopt(int fd) {
  if (fd_ >= 0) Release(fd_);
  fd_ = fd;
}

bool File::Identity(uint64_t* device, uint64_t* inode) const {
  return win32::HandleIdentity(HandleOf(fd_), device, inode);
}

bool IdentifyFile(const std::string& path, FileId* id) {
  return win32::PathIdentity(path, &id->device, &id->inode);
}

bool File::IsAt(const std::string& path) const {
  uint64_t device = 0, inode = 0, by_name_device = 0, by_name_inode = 0;
  return Identity(&device, &inode) && win32::PathIdentity(path, &by_name_device, &by_name_inode) &&
         device == by_name_device && inode == by_name_inode;
}

bool File::ReadAt(int64_t offset, void* buf, size_t n, size_t* got) const {
  *got = 0;
  if (offset < 0) {
    errno = EINVAL;
    return false;
  }
  auto* p = static_cast<uint8_t*>(buf);
  while (*got < n) {
    OVERLAPPED o = At(offset + static_cast<int64_t>(*got));
    DWORD r = 0;
    const DWORD ask = static_cast<DWORD>(std::min(n - *got, kMaxCall));
    if (!::ReadFile(HandleOf(fd_), p + *got, ask, &r, &o)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      SetErrnoFromLastError();
      return false;
    }
    if (r == 0) break;
    *got += r;
  }
  return true;
}

bool File::WriteAt(int64_t offset, const void* buf, size_t n) {
  if (offset < 0) {
    errno = EINVAL;
    return false;
  }
  // A positioned write moves the handle's position on Windows; POSIX's
  // pwrite does not, and sequential writes must go on where they were.
  HANDLE h = HandleOf(fd_);
  LARGE_INTEGER zero{}, position{};
  if (!::SetFilePointerEx(h, zero, &position, FILE_CURRENT)) {
    SetErrnoFromLastError();
    return false;
  }
  const auto* p = static_cast<const uint8_t*>(buf);
  size_t done = 0;
  bool ok = true;
  while (ok && done < n) {
    OVERLAPPED o = At(offset + static_cast<int64_t>(done));
    DWORD w = 0;
    const DWORD ask = static_cast<DWORD>(std::min(n - done, kMaxCall));
    if (!::WriteFile(h, p + done, ask, &w, &o) || w == 0) {
      SetErrnoFromLastError();
      ok = false;
    }
    done += w;
  }
  ::SetFilePointerEx(h, position, nullptr, FILE_BEGIN);
  return ok;
}

bool File::Write(const void* buf, size_t n) {
  const auto* p = static_cast<const uint8_t*>(buf);
  size_t done = 0;
  while (done < n) {
    DWORD w = 0;
    const DWORD ask = static_cast<DWORD>(std::min(n - done, kMaxCall));
    if (!::WriteFile(HandleOf(fd_), p + done, ask, &w, nullptr) || w == 0) {
      SetErrnoFromLastError();
      return false;
    }
    done += w;
  }
  return true;
}

int64_t File::Size() const {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(HandleOf(fd_), &size)) {
    SetErrnoFromLastError();
    return -1;
  }
  return size.QuadPart;
}

bool File::Sync() {
  if (::FlushFileBuffers(HandleOf(fd_))) return true;
  SetErrnoFromLastError();
  return false;
}

bool File::Truncate(int64_t length) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = length;
  if (::SetFileInformationByHandle(HandleOf(fd_), FileEndOfFileInfo, &end, sizeof end)) return true;
  SetErrnoFromLastError();
  return false;
}

bool File::Lock(bool exclusive, bool wait) {
  OVERLAPPED o{};
  o.Offset = kLockOffsetLow;
  o.OffsetHigh = kLockOffsetHigh;
  const DWORD flags =
      (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
  if (::LockFileEx(HandleOf(fd_), flags, 0, 1, 0, &o)) return true;
  SetErrnoFromLastError();
  return false;
}

bool File::Close() {
  if (fd_ < 0) return true;
  const int fd = std::exchange(fd_, -1);
  OVERLAPPED o{};
  o.Offset = kLockOffsetLow;
  o.OffsetHigh = kLockOffsetHigh;
  ::UnlockFileEx(HandleOf(fd), 0, 1, 0, &o);
  return ::_close(fd) == 0;
}

bool CreateNewFile(const std::string& path, const void* content, size_t n, File* file) {
  // CREATE_NEW never replaces what exists. Another process may open the new
  // file before it is locked; it then sees it empty for a moment.
  File tmp;
  if (!tmp.Open(path, File::Mode::kCreateExclusive)) return false;
  if (!tmp.Lock(true, false) || !tmp.WriteAt(0, content, n)) return false;
  *file = std::move(tmp);
  return true;
}

bool CreateUniqueFile(const std::string& prefix, File* file, std::string* path) {
  // Names from the process id, the clock and a counter; CREATE_NEW makes
  // each attempt safe, so a name taken meanwhile only costs another one.
  static LONG counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const uint64_t mix =
        (static_cast<uint64_t>(::GetCurrentProcessId()) << 32) ^ ::GetTickCount64() ^
        static_cast<uint64_t>(::InterlockedIncrement(&counter)) * 0x9E3779B97F4A7C15u;
    std::string name = prefix;
    for (int i = 0; i < 6; ++i)
      name += "abcdefghijklmnopqrstuvwxyz0123456789"[(mix >> (6 * i)) % 36];
    if (file->Open(name, File::Mode::kCreateExclusive)) {
      *path = name;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool RemoveFile(const std::string& path) {
  if (::DeleteFileW(PathW(path).c_str())) return true;
  SetErrnoFromLastError();
  return false;
}

bool RenameOver(const std::string& from, const std::string& to) {
  if (::MoveFileExW(PathW(from).c_str(), PathW(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  SetErrnoFromLastError();
  return false;
}

bool MakeDirectory(const std::string& path) {
  if (::CreateDirectoryW(PathW(path).c_str(), nullptr)) return true;
  SetErrnoFromLastError();
  return false;
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(PathW(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsSymbolicLink(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(PathW(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::string UnusableName(std::string_view name) {
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20) return "a control character is not allowed in a Windows file name";
    if (std::string_view("<>:\"|?*").find(c) != std::string_view::npos) {
      return std::string("the character '") + c + "' is not allowed in a Windows file name";
    }
  }
  if (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
    return "a Windows file name cannot end in a dot or a space";
  }
  // The device names are reserved whatever follows the first dot, and
  // whatever spaces end the base name.
  std::string base = about::AsciiLower(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static constexpr std::string_view kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
  bool reserved = false;
  for (std::string_view device : kDevices) reserved = reserved || base == device;
  if (base.size() == 4 && (base.rfind("com", 0) == 0 || base.rfind("lpt", 0) == 0) &&
      base[3] >= '1' && base[3] <= '9') {
    reserved = true;
  }
  if (reserved) return "'" + std::string(name) + "' is a reserved device name on Windows";
  return std::string();
}

// Windows has symbolic links but the tools never follow them when writing;
// the name itself is what the caller asked for.
std::string FileBehind(const std::string& path) { return path; }

}  // namespace host
