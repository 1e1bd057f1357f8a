// Creating files below the working directory without ever leaving it: every
// level is opened relative to the one above and symbolic links are never
// followed, so no name in an archive can make the tools write elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/file.h"

namespace host {

enum class TreeResult {
  kOk,        // `*dir` is open on the directory
  kUnsafe,    // a level exists as a symbolic link
  kBlocked,   // a level cannot be made (a file is in the way, or no room)
};

// Opens the directory reached from the working directory through
// `components` (plain names: none empty, "." or ".."), creating the levels
// that are missing. A level that does not exist as spelled but exists in
// another letter case is taken as that one. `*created` tells whether at
// least one level was made.
TreeResult OpenDirectoryBelow(const std::vector<std::string>& components, File* dir,
                              bool* created);

// Creates or empties `name` in the open directory `dir` for writing. A
// symbolic link of that name is replaced by the new file, never followed;
// an existing file in another letter case is reused.
bool CreateFileIn(const File& dir, const std::string& name, File* out);

// Whether `name` in the open directory `dir` (in any letter case, links
// followed) is the file with the given identity.
bool IsSameFileIn(const File& dir, const std::string& name, uint64_t device, uint64_t inode);

}  // namespace host
