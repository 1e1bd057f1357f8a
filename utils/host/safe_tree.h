// Creating files below the working directory without ever leaving it: every
// level is opened relative to the one above and symbolic links are never
// followed, so no name in an archive can make the tools write elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/file.h"

namespace host {

enum class TreeResult {
  kOk,        // the directory is open
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

// The directory files are being written to, kept open from one file to the
// next: entries of one folder usually come together, and each costs only
// its own file's calls then. Names are matched ignoring letter case through
// an index of the folder built once, not by a scan per file.
class SafeTree {
 public:
  // Makes the directory of `components` the current one (see
  // OpenDirectoryBelow). Calling it again with the same components keeps
  // the open directory and reports nothing created.
  TreeResult Enter(const std::vector<std::string>& components, bool* created);

  // What a file name leads to in the current directory.
  struct Target {
    std::string spelling;  // the existing spelling, or the name as given
    bool exists = false;
    bool is_link = false;  // a symbolic link, not followed
    uint64_t device = 0;   // identity of what exists (the link itself for links)
    uint64_t inode = 0;
  };
  // Looks `name` up in any letter case.
  Target Find(const std::string& name);

  // Creates or empties the file `target` names for writing. A symbolic link
  // there is replaced by the new file, never followed.
  bool CreateFile(const Target& target, File* out);

 private:
  File dir_;
  std::vector<std::string> components_;
  bool open_ = false;
  bool indexed_ = false;
  std::unordered_map<std::string, std::string> by_folded_name_;
};

}  // namespace host
