// Support for end-to-end tests: fresh scratch directories, file helpers and
// running a tool binary with captured output.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace e2e {

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
