#include "bench/out_file.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace bench {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
  throw std::runtime_error(what + " '" + path + "': " + std::strerror(errno));
}

}  // namespace

OutFile::OutFile(const std::string& path) : path_(path) {
  if (!file_.Open(path, host::File::Mode::kCreateTruncate)) Fail("cannot create", path);
}

void OutFile::Write(const void* data, size_t n) {
  if (!file_.Write(data, n)) Fail("cannot write", path_);
}

void OutFile::WriteAt(int64_t offset, const void* data, size_t n) {
  if (!file_.WriteAt(offset, data, n)) Fail("cannot write", path_);
}

void OutFile::Close() {
  if (!file_.Close()) Fail("cannot close", path_);
}

void WriteWholeFile(const std::string& path, const void* data, size_t n) {
  OutFile out(path);
  out.Write(data, n);
  out.Close();
}

void MakeFolder(const std::string& path) {
  if (!host::MakeDirectory(path) && !host::IsDirectory(path)) Fail("cannot create folder", path);
}

}  // namespace bench
