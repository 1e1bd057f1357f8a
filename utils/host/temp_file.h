// The temporary file a rewrite builds beside the file it replaces, under a
// fixed name. Whatever stands at that name is never written through: a
// symbolic link, a FIFO or a hard link to some other file is removed (the
// name only), and a fresh regular file is created in its place. Runs that
// rewrite files in one folder at the same time take turns through a lock on
// the temporary file, so their files never mix.
#pragma once

#include <string>

#include "host/file.h"

namespace host {

class TempFile {
 public:
  TempFile() = default;
  // Removes the file again unless it was renamed over its target.
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates `name` in the folder `dir` ("" for the working folder), fresh,
  // empty and exclusively locked, with the permission bits, and where the
  // process may set them the owner and group, of `like`. Waits while another
  // run holds the name; gives up after `attempts` rounds of others taking
  // the name first. False, with errno set, when it cannot be made.
  bool Create(const std::string& dir, const std::string& name, const File& like, int attempts);

  File& file() { return file_; }

  // Flushed to disk first by the caller; renames the file over `target` (in
  // the same folder) in one step and makes the rename durable. The name
  // must still lead to this very file.
  bool ReplaceOver(const std::string& target);

 private:
  // One round: true when the file is ours, false with *retry set when the
  // name was taken meanwhile.
  bool TryCreate(const File& like, bool* retry);

  File dir_;
  std::string dir_path_;
  std::string name_;
  File file_;
  bool renamed_ = false;
};

}  // namespace host
