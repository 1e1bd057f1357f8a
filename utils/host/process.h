// What every tool does with its process before and after its work: the
// standard descriptors, the console's write errors, and the pace at which
// buffered progress text is pushed out.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// Makes sure descriptors 0, 1 and 2 are open before the tool opens anything
// else, so that no archive or output file can ever become the console. A
// closed one is opened on /dev/null in the mode that makes its use fail
// (standard input write only, standard output and error read only): output
// to a closed standard output then fails as it would have, and is reported
// at the end instead of landing in a file.
// SIGPIPE is ignored from here on, so a pipe whose reader has gone (`xkrf
// pak '*.*' | head -1`) fails the write with EPIPE like any other console
// failure instead of killing the process half-way through its files.
// On Windows a console gets the UTF-8 code page for the run, and its own
// page back at the end.
// Call it first in main, before any thread starts.
void GuardStandardDescriptors();

inline constexpr int kStandardOutput = 1;

// The name of the system the tools were built for, as their banners show it
// ("Linux", "Windows").
std::string_view SystemName();

// The command line as UTF-8 strings: argv as given on POSIX systems; on
// Windows read as UTF-16 from the system (the runtime's argv would be in the
// ANSI code page) and never wildcard-expanded, since the tools match their
// masks themselves.
std::vector<std::string> CommandLineUtf8(int argc, char** argv);

// CommandLineUtf8 as an argc/argv pair for the tools' entry points.
class Arguments {
 public:
  Arguments(int argc, char** argv);
  int argc() const { return static_cast<int>(text_.size()); }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> text_;
  std::vector<char*> pointers_;  // into text_, closed by a null pointer
};

// Writes all `n` bytes to the descriptor, waiting while a non-blocking one
// is full. False when a write fails or writes nothing; `*error` is then its
// errno, 0 when unknown.
bool WriteFully(int fd, const void* data, size_t n, int* error);

// Flushes `out` and reports whether everything written to it arrived. When
// not, prints "<tool>: write error[: reason]" on standard error, as
// coreutils do; the caller then ends with the fatal status.
bool FinishConsole(std::FILE* out, const char* tool);
// Flushes `out` while the run goes on; the reason of a failure is kept for
// FinishConsole to name. Not for use on several threads at once.
void FlushConsole(std::FILE* out);
// The same report for output that is not a stdio stream; `error` is the
// errno of the failure, 0 when unknown.
void ReportWriteError(const char* tool, int error);

// Decides when text buffered for a pipe or a file is due: at least every
// quarter of a second while a run is busy, so a log shows progress and a
// killed run leaves its last lines, yet thousands of progress lines still
// cost a handful of writes. The clock is a coarse monotonic one, cheap
// enough to ask once per file or per megabyte.
class FlushPacer {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kInterval{250};

  // True when kInterval has passed since the last time it said so (or since
  // construction); the caller then flushes.
  bool Due();
  // The same against a given instant, for tests.
  bool DueAt(Clock::time_point now);

 private:
  Clock::time_point last_ = Clock::now();
};

}  // namespace host
