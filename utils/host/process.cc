#include "host/process.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host {

Arguments::Arguments(int argc, char** argv) : text_(CommandLineUtf8(argc, argv)) {
  for (std::string& arg : text_) pointers_.push_back(arg.data());
  pointers_.push_back(nullptr);
}

void ReportWriteError(const char* tool, int error) {
  char text[256];
  int n;
  if (error != 0) {
    n = std::snprintf(text, sizeof text, "%s: write error: %s\n", tool, std::strerror(error));
  } else {
    n = std::snprintf(text, sizeof text, "%s: write error\n", tool);
  }
  if (n > 0) {
    // Standard error may be as broken as standard output: nothing more to do then.
    const ssize_t ignored = ::write(STDERR_FILENO, text, static_cast<size_t>(n));
    (void)ignored;
  }
}

namespace {

int g_console_error = 0;  // errno of the first failed FlushConsole

}  // namespace

void FlushConsole(std::FILE* out) {
  errno = 0;
  if (std::fflush(out) != 0 && g_console_error == 0) g_console_error = errno;
}

bool FinishConsole(std::FILE* out, const char* tool) {
  errno = 0;
  const bool flushed = std::fflush(out) == 0;
  const int error = errno;
  if (flushed && !std::ferror(out)) return true;
  ReportWriteError(tool, flushed ? g_console_error : error);
  return false;
}

bool FlushPacer::Due() { return DueAt(Clock::now()); }

bool FlushPacer::DueAt(Clock::time_point now) {
  if (now - last_ < kInterval) return false;
  last_ = now;
  return true;
}

}  // namespace host
