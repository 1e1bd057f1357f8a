// Standard output as the converters use it: a buffered std::ostream over a
// descriptor that remembers why its first write failed. After a failure it
// writes nothing more (the text is dropped and the stream goes bad), so a
// closed, full or broken console never holds up the run nor reaches any
// other file; the failure is reported once, when the run is done.
#pragma once

#include <ostream>
#include <streambuf>
#include <vector>

namespace pcxframe {

class ConsoleStream : public std::ostream {
 public:
  explicit ConsoleStream(int fd);
  ~ConsoleStream() override;
  ConsoleStream(const ConsoleStream&) = delete;
  ConsoleStream& operator=(const ConsoleStream&) = delete;

  // True when the descriptor is a terminal: progress is then shown at once.
  bool interactive() const { return interactive_; }

  // Flushes and reports whether every byte arrived. When not, prints
  // "<tool>: write error[: reason]" on standard error; the run then ends
  // with the fatal status.
  bool Finish(const char* tool);

 private:
  class Buffer : public std::streambuf {
   public:
    explicit Buffer(int fd);
    bool failed() const { return failed_; }
    int error() const { return error_; }  // errno of the failure, 0 when unknown

   protected:
    int_type overflow(int_type ch) override;
    int sync() override;

   private:
    // Writes out what is buffered; false once a write has failed.
    bool Drain();

    int fd_;
    std::vector<char> space_;
    bool failed_ = false;
    int error_ = 0;
  };

  Buffer buffer_;
  bool interactive_;
};

}  // namespace pcxframe
