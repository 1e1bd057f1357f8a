#include "snapback/output_file.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace snapback {

namespace {

mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

OutputFile::~OutputFile() {
  if (!committed_ && !temp_path_.empty()) {
    file_.Close();
    ::unlink(temp_path_.c_str());
  }
}

bool OutputFile::Create(const std::string& target) {
  target_ = target;
  std::string pattern = host::HostDirName(target) + ".snapback-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return false;
  temp_path_ = name.data();
  file_.Adopt(fd);
  // mkstemp makes the file private; the result should look like any new file.
  if (::fchmod(fd, NewFileMode()) != 0) return false;
  writer_ = std::make_unique<host::BufferedWriter>(&file_);
  return true;
}

bool OutputFile::PatchAt(int64_t offset, const void* data, size_t n) {
  return writer_->Flush() && file_.WriteAt(offset, data, n);
}

bool OutputFile::Commit() {
  bool ok = writer_->Flush() && file_.Sync();
  int error = errno;
  if (!file_.Close() && ok) {
    ok = false;
    error = errno;
  }
  if (ok && std::rename(temp_path_.c_str(), target_.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(temp_path_.c_str());
    temp_path_.clear();
    errno = error;
    return false;
  }
  committed_ = true;
  return true;
}

}  // namespace snapback
