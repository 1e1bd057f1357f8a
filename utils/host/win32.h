// Helpers shared by the Windows implementation of the host layer; nothing
// outside utils/host includes this.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// The host layer calls the W functions by name; the macro would rename
// SafeTree::CreateFile.
#undef CreateFile

#include <cstdint>
#include <string>
#include <string_view>

namespace host::win32 {

// UTF-8 to UTF-16. Text that is not valid UTF-8 (a name stored by a tool
// that wrote the ANSI code page) is read in the ANSI code page.
std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);

// A path for the W functions: both separators accepted, and a path too long
// for the classic limit made absolute in the \\?\ form.
std::wstring PathW(const std::string& path);
// `path` made absolute (GetFullPathNameW).
bool FullPath(const std::wstring& path, std::wstring* full);

// Sets errno from a Win32 error code, so that callers see the same values
// as on POSIX systems (ENOENT, EEXIST, EACCES, ENOSPC, ...).
void SetErrno(DWORD error);
inline void SetErrnoFromLastError() { SetErrno(::GetLastError()); }

// The handle behind a C runtime descriptor, and a descriptor for a handle
// (binary mode: the runtime never translates file bytes).
HANDLE HandleOf(int fd);
int DescriptorFor(HANDLE handle);

// Sharing that lets other handles read, write, rename and delete, as POSIX
// descriptors always do; the archive can then be replaced while open.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Volume and file index of an open handle.
bool HandleIdentity(HANDLE handle, uint64_t* device, uint64_t* inode);
// The same for a name, without following a reparse point at its end.
bool PathIdentity(const std::string& path, uint64_t* device, uint64_t* inode);

}  // namespace host::win32
