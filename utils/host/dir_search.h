// Directory search with the name rules of the tools' original home: wildcard
// patterns and name lookups ignore ASCII letter case, and results come in a
// fixed order so the same tree always gives the same output.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

struct DirEntry {
  std::string name;      // as the file system spells it
  bool is_dir = false;   // a directory (possibly reached through a link)
  bool is_link = false;  // the entry itself is a symbolic link
  int64_t size = 0;      // length in bytes of a regular file, 0 for directories
  uint64_t device = 0;   // identity of the file reached (links followed)
  uint64_t inode = 0;
};

// Matches `name` against a pattern of '*' (any run of characters) and '?'
// (any one character), ignoring ASCII case. "*.*" matches every name, with or
// without a dot.
bool WildcardMatch(std::string_view pattern, std::string_view name);

// The order of search results: names compared with ASCII letters folded to
// lower case, ties broken by the raw bytes.
bool NameLess(std::string_view a, std::string_view b);

// Lists the directory `dir` ("" means the working directory): every
// sub-directory and every regular file (a link to either counts as one),
// never ".", "..", FIFOs, sockets or devices, sorted by NameLess.
// Returns false when the directory cannot be read.
bool ListDirectory(const std::string& dir, std::vector<DirEntry>* out);

// ListDirectory filtered by a wildcard pattern.
bool SearchDirectory(const std::string& dir, std::string_view pattern, std::vector<DirEntry>* out);

// Calls `visit` with every name in the directory open as `dirfd` but "."
// and "..". The descriptor itself is neither moved nor closed; nothing is
// visited when the directory cannot be read.
void ForEachName(int dirfd, const std::function<void(const std::string&)>& visit);

// The spelling in the directory `dirfd` of a name equal to `name` but for
// ASCII case, the first in NameLess order, or "" when there is none.
std::string ExistingSpelling(int dirfd, std::string_view name);

// Maps a path onto the file system as a Windows user would expect it: each
// component that does not exist as spelled but exists in another letter
// case is replaced by the existing spelling (the first in NameLess order).
// Components that exist in no spelling, and everything below them, are
// kept as given, so new files and directories get the spelling asked for.
std::string ResolvePath(const std::string& path);

}  // namespace host
