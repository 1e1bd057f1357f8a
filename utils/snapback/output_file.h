// A file snapback writes, replaced whole or not at all: the bytes go into a
// fresh file beside the target that has no name while it is written, which
// is flushed to disk and then takes the target's name in one step. A run
// that fails or is stopped half-way leaves an existing file as it was, and
// no partly written file under any name.
#pragma once

#include <memory>
#include <string>

#include "host/file.h"
#include "host/temp_file.h"

namespace snapback {

class OutputFile {
 public:
  OutputFile() = default;
  // Drops the fresh file unless it took its name.
  ~OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the fresh file for `target` in the target's folder, with the
  // permission bits a new file gets. False, with errno set, when it cannot.
  bool Create(const std::string& target);

  host::BufferedWriter& writer() { return *writer_; }
  // Overwrites bytes already written (a header filled in last).
  bool PatchAt(int64_t offset, const void* data, size_t n);

  // Writes out and syncs the data: false, with errno set, when the data
  // could not be written.
  bool Finish();
  // Then gives the file the target's name. False, with errno set, when the
  // name cannot be had (a folder stands there, the name is too long, ...):
  // the fresh file is dropped, and what stood at the name stays.
  bool PutInPlace() { return staged_.PutInPlace(); }

 private:
  host::StagedFile staged_;
  std::unique_ptr<host::BufferedWriter> writer_;
};

}  // namespace snapback
