#include "host/file.h"

#include <cstring>

namespace host {

bool File::ReadExactAt(int64_t offset, void* buf, size_t n) const {
  size_t got = 0;
  return ReadAt(offset, buf, n, &got) && got == n;
}

BufferedWriter::BufferedWriter(File* file, size_t capacity) : file_(file), buffer_(capacity) {}

void BufferedWriter::Write(const void* data, size_t n) {
  if (n == 0) return;  // an empty vector may hand over no buffer at all
  const auto* p = static_cast<const uint8_t*>(data);
  if (n >= buffer_.size()) {
    FlushBuffer();
    if (ok_ && !file_->Write(p, n)) ok_ = false;
    written_ += static_cast<int64_t>(n);
    return;
  }
  if (buffer_.size() - used_ < n) FlushBuffer();
  std::memcpy(buffer_.data() + used_, p, n);
  used_ += n;
}

void BufferedWriter::FlushBuffer() {
  if (used_ > 0 && ok_ && !file_->Write(buffer_.data(), used_)) ok_ = false;
  written_ += static_cast<int64_t>(used_);
  used_ = 0;
}

bool BufferedWriter::Flush() {
  FlushBuffer();
  return ok_;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out) {
  out->clear();
  File f;
  if (!f.Open(path, File::Mode::kRead)) return false;
  const int64_t size = f.Size();
  if (size < 0) return false;
  out->resize(static_cast<size_t>(size));
  size_t got = 0;
  if (!f.ReadAt(0, out->data(), out->size(), &got)) return false;
  out->resize(got);
  return true;
}

std::string HostDirName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ErrorText(int error) {
  if (error == kInUse) return "in use by another program";
  return std::strerror(error);
}

}  // namespace host
