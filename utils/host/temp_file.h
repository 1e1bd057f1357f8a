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
  // `open_target`, the target's own open file, stays open (and locked)
  // through the rename; only where the system can neither replace nor
  // rename an open file is it closed right before the rename.
  bool ReplaceOver(const std::string& target, File* open_target);

 private:
  // Up to `attempts` rounds of TryCreate.
  bool CreateInRounds(const File& like, int attempts);
  // One round: true when the file is ours, false with *retry set when the
  // name was taken meanwhile.
  bool TryCreate(const File& like, bool* retry);

  File dir_;
  std::string dir_path_;
  std::string name_;
  File file_;
  bool renamed_ = false;
};

// A new file that takes its target's name only once it is complete, so no
// stop of the process (an error, Ctrl-C, kill -9, a crash) ever leaves a
// partly written file under any name. Where the system can (Linux), the file
// has no name at all while it is written and vanishes with the process.
// Elsewhere it is written under a hidden name, `hidden_prefix` and six
// letters, in the target's folder: an interrupt (SIGINT, SIGTERM, SIGHUP)
// removes it, and the first StagedFile a later run makes in that folder
// removes what a harder stop left there (only files no running process
// holds). Files are only ever made by one thread.
class StagedFile {
 public:
  StagedFile() = default;
  // Removes the file again unless it took its name.
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Creates the file in the folder of `target`, with the permission bits a
  // new file gets. False, with errno set, when it cannot be made.
  bool Create(const std::string& target, const std::string& hidden_prefix);

  File& file() { return file_; }

  // Flushed to disk first by the caller; gives the file the target's name,
  // in one step over whatever stood there, and makes that durable. False,
  // with errno set, when the name cannot be had (a folder stands there, the
  // name is too long, ...); the file is then removed.
  bool PutInPlace();

 private:
  bool CreateNamed();
  void Forget();

  std::string target_;
  std::string prefix_;
  File dir_;
  std::string hidden_;  // the hidden name in the folder, "" while it has none
  int slot_ = -1;       // where an interrupt finds the hidden name
  File file_;
  bool placed_ = false;
};

}  // namespace host
