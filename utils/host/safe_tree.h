// Creating files below the working directory without ever leaving it: every
// level is opened relative to the one above and symbolic links are never
// followed, so no name in an archive can make the tools write elsewhere.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/file.h"

namespace host {

enum class TreeResult {
  kOk,       // the directory is open
  kUnsafe,   // a level exists as a symbolic link
  kBlocked,  // a level cannot be made (a file is in the way, or no room)
};

// Opens the directory reached from the working directory through
// `components` (plain names: none empty, "." or ".."), creating the levels
// that are missing. A level that does not exist as spelled but exists in
// another letter case is taken as that one. `*created` tells whether at
// least one level was made.
TreeResult OpenDirectoryBelow(const std::vector<std::string>& components, File* dir, bool* created);

// The directory files are being written to. Entries of one folder usually
// come together, and each then costs only its own file's calls; entries
// that alternate between folders cost the opening of the folder's levels,
// never a scan. Names are matched ignoring letter case through an index of
// each folder, built at most once per tree from one scan of the folder (none
// for a folder made here) and kept up to date with every file and folder
// created here, so the work grows with the number of files whatever their
// order. Only one folder is open at a time, besides the working directory.
class SafeTree {
 public:
  SafeTree();
  ~SafeTree();
  SafeTree(const SafeTree&) = delete;
  SafeTree& operator=(const SafeTree&) = delete;

  // Makes the directory of `components` the current one (see
  // OpenDirectoryBelow). Calling it again with the same components keeps
  // the open directory and reports nothing created; any other folder is
  // opened level by level from the working directory, never following a
  // link, and a level that was made or indexed before is not scanned again.
  TreeResult Enter(const std::vector<std::string>& components, bool* created);

  // What a file name leads to in the current directory.
  struct Target {
    std::string spelling;  // the existing spelling, or the name as given
    bool exists = false;
    bool is_link = false;   // a symbolic link, not followed
    bool is_other = false;  // a FIFO, a socket or a device node, never opened
    uint64_t device = 0;    // identity of what exists (the link itself for links)
    uint64_t inode = 0;
  };
  // Looks `name` up in any letter case. In a folder made by this run, a
  // name the run did not make is taken as absent without a call; should
  // another program make it meanwhile, CreateFile meets it there.
  Target Find(const std::string& name);

  // Creates or empties the file `target` names for writing. A symbolic
  // link, a FIFO, a socket or a device node there is removed (never
  // followed, never opened) and a new regular file takes its place; an
  // existing regular file is emptied. Never blocks, and succeeds only with
  // a regular file open.
  bool CreateFile(const Target& target, File* out);

  // Whether Enter(components) would keep the current directory.
  bool IsCurrent(const std::vector<std::string>& components) const {
    return current_ != nullptr && components == components_;
  }

  // A file CreateFile would make, to be made later, on any thread: it goes
  // into the directory current when it was planned, which stays open for
  // it, and its name counts as made from the planning on. One thread at a
  // time may Create a given PlannedFile; the tree itself stays on its own.
  class PlannedFile {
   public:
    // As CreateFile.
    bool Create(File* out) const;

   private:
    friend class SafeTree;
    std::shared_ptr<const File> dir_;
    Target target_;
  };
  // False, planning nothing, where CreateFile would fail at once.
  bool Plan(const Target& target, PlannedFile* planned);

  // Directory entries read by the scans that built the name indexes so
  // far: the measure of the work done apart from each file's own calls.
  uint64_t names_read() const { return names_read_; }

 private:
  struct Folder;

  // The spelling `wanted` has in `folder` (open as `fd`): as given when it
  // exists so, else the existing one in another letter case; `*st` tells
  // what stands there when the result is true.
  bool Resolve(Folder* folder, int fd, const std::string& wanted, std::string* name,
               struct stat* st);
  // The existing spelling of `name` in any letter case, or null.
  const std::string* Lookup(Folder* folder, int fd, const std::string& name);
  // Records a name just created in `folder`.
  static void Note(Folder* folder, const std::string& name);
  // Opens the folder of `components` level by level from the working
  // directory, creating missing levels, and makes it the current one.
  TreeResult Walk(const std::vector<std::string>& components, bool* created);

  File root_;  // the working directory, opened at the first Enter
  std::unique_ptr<Folder> top_;
  std::shared_ptr<const File> dir_;  // shared with the files planned in it
  Folder* current_ = nullptr;        // null while no directory is open
  std::vector<std::string> components_;
  uint64_t names_read_ = 0;
};

}  // namespace host
