// A file snapback writes, replaced whole or not at all: the bytes go into a
// fresh file beside the target, which is flushed to disk and then renamed
// over it. A run that fails half-way leaves an existing file as it was,
// never a truncated one.
#pragma once

#include <memory>
#include <string>

#include "host/file.h"

namespace snapback {

class OutputFile {
 public:
  OutputFile() = default;
  // Removes the fresh file unless Commit succeeded.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the fresh file for `target` in the target's folder, with the
  // permission bits a new file gets. False, with errno set, when it cannot.
  bool Create(const std::string& target);

  host::BufferedWriter& writer() { return *writer_; }
  // Overwrites bytes already written (a header filled in last).
  bool PatchAt(int64_t offset, const void* data, size_t n);

  // Flushes, syncs and renames the file over the target. False, with errno
  // set, on any failure; the fresh file is then removed.
  bool Commit();

 private:
  std::string target_;
  std::string temp_path_;
  host::File file_;
  std::unique_ptr<host::BufferedWriter> writer_;
  bool committed_ = false;
};

}  // namespace snapback
