#include "pcxframe/console_stream.h"

#include "host/console.h"
#include "host/process.h"

namespace pcxframe {

ConsoleStream::Buffer::Buffer(int fd) : fd_(fd), space_(size_t{1} << 16) {
  setp(space_.data(), space_.data() + space_.size());
}

bool ConsoleStream::Buffer::Drain() {
  const char* p = pbase();
  const char* const end = pptr();
  if (!failed_ && p < end && !host::WriteFully(fd_, p, static_cast<size_t>(end - p), &error_)) {
    failed_ = true;
  }
  // What could not be written is dropped: nothing is ever retried.
  setp(space_.data(), space_.data() + space_.size());
  return !failed_;
}

ConsoleStream::Buffer::int_type ConsoleStream::Buffer::overflow(int_type ch) {
  if (!Drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(ch, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(ch);
    pbump(1);
  }
  return traits_type::not_eof(ch);
}

int ConsoleStream::Buffer::sync() { return Drain() ? 0 : -1; }

ConsoleStream::ConsoleStream(int fd)
    : std::ostream(nullptr), buffer_(fd), interactive_(host::IsTerminal(fd)) {
  rdbuf(&buffer_);
}

ConsoleStream::~ConsoleStream() { buffer_.pubsync(); }

bool ConsoleStream::Finish(const char* tool) {
  flush();
  if (!buffer_.failed() && good()) return true;
  host::ReportWriteError(tool, buffer_.error());
  return false;
}

}  // namespace pcxframe
