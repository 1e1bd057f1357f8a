#include "host/win32.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>

#include "host/file.h"

namespace host::win32 {

std::wstring Widen(std::string_view text) {
  if (text.empty()) return std::wstring();
  const int length = static_cast<int>(text.size());
  UINT page = CP_UTF8;
  int n = ::MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (n <= 0) {
    page = CP_ACP;
    n = ::MultiByteToWideChar(page, 0, text.data(), length, nullptr, 0);
  }
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(page, page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0, text.data(), length,
                        out.data(), n);
  return out;
}

std::string Narrow(std::wstring_view text) {
  if (text.empty()) return std::string();
  const int length = static_cast<int>(text.size());
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring PathW(const std::string& path) {
  std::wstring wide = Widen(path);
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  // Below the classic limit, or already in the long form: as given.
  constexpr size_t kClassicLimit = 240;
  if (wide.size() < kClassicLimit || wide.rfind(L"\\\\", 0) == 0) return wide;
  std::wstring full;
  if (!FullPath(wide, &full)) return wide;
  return L"\\\\?\\" + full;
}

bool FullPath(const std::wstring& path, std::wstring* full) {
  const DWORD n = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return false;
  full->assign(n, L'\0');
  const DWORD got = ::GetFullPathNameW(path.c_str(), n, full->data(), nullptr);
  if (got == 0 || got >= n) return false;
  full->resize(got);
  return true;
}

void SetErrno(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      errno = ENOENT;
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      errno = EEXIST;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      errno = EACCES;
      break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      errno = kInUse;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      errno = ENOSPC;
      break;
    case ERROR_DIRECTORY:
      errno = ENOTDIR;
      break;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      errno = EINVAL;
      break;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      errno = ENOMEM;
      break;
    case ERROR_DIR_NOT_EMPTY:
      errno = ENOTEMPTY;
      break;
    default:
      errno = EIO;
      break;
  }
}

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

int DescriptorFor(HANDLE handle) {
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    errno = EMFILE;
  }
  return fd;
}

bool HandleIdentity(HANDLE handle, uint64_t* device, uint64_t* inode) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle, &info)) {
    SetErrnoFromLastError();
    return false;
  }
  *device = info.dwVolumeSerialNumber;
  *inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

bool PathIdentity(const std::string& path, uint64_t* device, uint64_t* inode) {
  HANDLE h = ::CreateFileW(PathW(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SetErrnoFromLastError();
    return false;
  }
  const bool ok = HandleIdentity(h, device, inode);
  ::CloseHandle(h);
  return ok;
}

}  // namespace host::win32
