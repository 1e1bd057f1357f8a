#include "snapback/output_file.h"

namespace snapback {

namespace {

// What a stopped run on a system without unnamed files may leave beside
// its target; the next run removes it.
constexpr char kHiddenPrefix[] = ".snapback-";

}  // namespace

bool OutputFile::Create(const std::string& target) {
  if (!staged_.Create(target, kHiddenPrefix)) return false;
  writer_ = std::make_unique<host::BufferedWriter>(&staged_.file());
  return true;
}

bool OutputFile::PatchAt(int64_t offset, const void* data, size_t n) {
  return writer_->Flush() && staged_.file().WriteAt(offset, data, n);
}

bool OutputFile::Finish() { return writer_->Flush() && staged_.file().Sync(); }

}  // namespace snapback
