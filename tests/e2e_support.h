// Support for end-to-end tests: fresh scratch directories, file helpers and
// running a tool binary with captured output.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace e2e {

// Windows lacks, for ordinary programs, part of what the tests make or use:
// FIFOs, POSIX symbolic links and file modes, signals, fork, POSIX
// terminals, resource limits, the POSIX peers. A test that needs one is
// built on POSIX systems only and, on Windows, listed and skipped:
//   #ifndef _WIN32
//   TEST(Suite, Name) { ... }
//   #else
//   TEST(Suite, Name) { E2E_WINDOWS_LACKS("FIFOs"); }
//   #endif
// and a test whose code builds everywhere skips where it cannot run:
//   if (e2e::kWindows) E2E_WINDOWS_LACKS("case-sensitive file names");
#define E2E_WINDOWS_LACKS(needs) GTEST_SKIP() << "Windows lacks " << (needs)
#ifdef _WIN32
inline constexpr bool kWindows = true;
#else
inline constexpr bool kWindows = false;
#endif

// Every banner ends naming the system the tools were built for.
inline const std::string kEditionNotice =
    kWindows ? "(Windows edition 1.0)" : "(Linux edition 1.0)";

// Paths in the tests are UTF-8 strings, on Windows too (where a plain
// std::string path would be read in the ANSI code page).
inline std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

// True when the tests run under Wine, which lacks some of Windows' calls.
bool UnderWine();

// A symbolic link at `link` to `target` (relative to the link's folder).
bool MakeSymlink(const std::string& target, const std::string& link);
// A FIFO at `path`; Windows has none, and a test that asks there fails.
bool MakeFifo(const std::string& path);

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string operator/(const std::string& relative) const;

 private:
  std::string path_;
};

struct RunResult {
  int exit_code = -1;   // the exit status, or 128 + signal number
  std::string out;      // everything written to standard output
  std::string err;      // everything written to standard error
  long max_rss_kb = 0;  // the run's peak resident memory
};

// Every run started here is ended by SIGALRM (exit code 128 + 14) when it
// is still running after this long.
inline constexpr unsigned kRunDeadlineSeconds = 120;

// Starts `binary` with `args` in `cwd`, standard input from /dev/null (so
// never a terminal), standard output to `out_fd` and errors to `err_fd`
// (/dev/null for -1). `prepare`, when given, runs in the child just before
// the program starts. Returns the child's pid.
pid_t Spawn(const std::string& binary, const std::vector<std::string>& args, const std::string& cwd,
            int out_fd, int err_fd, const std::function<void()>& prepare = {});

// Runs `binary` with `args` in the working directory `cwd`, standard input
// from /dev/null (so never a terminal), and waits for it. `prepare` as for
// Spawn (a shorter alarm(), say).
RunResult Run(const std::string& binary, const std::vector<std::string>& args,
              const std::string& cwd, const std::function<void()>& prepare = {});

// Run, but a run still going after `limit` is killed (exit code 128 + 9)
// and fails its test: a tool that would wait forever does not stop the
// suite. (Windows: Run's own deadline does that.)
inline constexpr std::chrono::milliseconds kNoLimit = std::chrono::milliseconds::max();
RunResult RunWithin(const std::string& binary, const std::vector<std::string>& args,
                    const std::string& cwd, std::chrono::milliseconds limit,
                    const std::function<void()>& prepare = {});

using Bytes = std::vector<uint8_t>;

// Creates the file (and any missing parent directories) with `data`.
void WriteFile(const std::string& path, const Bytes& data);
void WriteFile(const std::string& path, const std::string& data);
Bytes ReadFile(const std::string& path);  // fails the test when unreadable
bool Exists(const std::string& path);
void MakeDirs(const std::string& path);

// Deterministic pseudo-random bytes for generated inputs.
Bytes RandomBytes(size_t n, uint32_t seed);

}  // namespace e2e
