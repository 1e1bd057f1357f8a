// Checked output for the corpus writers: every failure throws
// std::runtime_error with the path and the system's reason, so a full tmpfs
// stops the generator instead of leaving a short corpus behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/file.h"

namespace bench {

class OutFile {
 public:
  explicit OutFile(const std::string& path);  // created, or emptied if it exists
  void Write(const void* data, size_t n);
  void WriteAt(int64_t offset, const void* data, size_t n);
  void Close();  // REQUIRES: called once the last byte is written

 private:
  std::string path_;
  host::File file_;
};

void WriteWholeFile(const std::string& path, const void* data, size_t n);

// Creates one folder level; an existing folder is fine.
void MakeFolder(const std::string& path);

}  // namespace bench
