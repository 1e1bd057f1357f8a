#include <algorithm>

#include "host/dir_search.h"
#include "host/win32.h"

namespace host {

bool ListDirectory(const std::string& dir, std::vector<DirEntry>* out) {
  out->clear();
  std::string pattern = dir;
  if (!pattern.empty() && pattern.back() != '/' && pattern.back() != '\\') pattern += '/';
  pattern += '*';
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileExW(win32::PathW(pattern).c_str(), FindExInfoBasic, &data,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) {
    // An empty drive root has no entries at all; anything else is an error.
    return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  do {
    const std::wstring_view wide = data.cFileName;
    if (wide == L"." || wide == L"..") continue;
    DirEntry entry;
    entry.name = win32::Narrow(wide);
    const DWORD attributes = data.dwFileAttributes;
    // Junctions and symbolic links: reported as links, never entered.
    entry.is_link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entry.is_dir = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!entry.is_dir) {
      entry.size = static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) |
                                        data.nFileSizeLow);
      // The search reports no file identity; a file must be opened for it
      // (it tells the archive itself apart from the files being added).
      win32::PathIdentity(dir + entry.name, &entry.device, &entry.inode);
    }
    out->push_back(std::move(entry));
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  std::sort(out->begin(), out->end(),
            [](const DirEntry& a, const DirEntry& b) { return NameLess(a.name, b.name); });
  return true;
}

// The file system ignores letter case itself: every spelling reaches the
// same file, and a new name keeps the spelling asked for.
std::string ResolvePath(const std::string& path) { return path; }

}  // namespace host
