// Shared pieces of the reliability tests: launching a tool with a lowered
// file-size limit, sample files, and judging an archive by what its entries
// hold (with the tests' own reader, never the tool's code).
#pragma once

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "xkrf_archive.h"

namespace reliability {

using e2e::Bytes;
using Contents = std::map<std::string, Bytes>;

// Deterministic file contents: `runny` ones shrink under RLE (runs of up to
// 97 equal bytes), the others are noise that RLE cannot shrink.
inline Bytes Sample(size_t n, uint32_t seed, bool runny) {
  Bytes b = e2e::RandomBytes(n, seed);
  if (runny) {
    for (size_t i = 0; i < n; ++i) b[i] = b[i - i % 97];
  }
  return b;
}

#ifndef _WIN32
// Starts `binary` with `args` in `cwd`, standard input from /dev/null,
// standard output and errors to `out_fd` (or /dev/null when it is -1).
// `prepare` runs in the child just before the program starts.
inline pid_t Spawn(const std::string& binary, const std::vector<std::string>& args,
                   const std::string& cwd, int out_fd, const std::function<void()>& prepare) {
  return e2e::Spawn(binary, args, cwd, out_fd, out_fd, prepare);
}

inline int ExitCode(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs `binary` like e2e::Run, but with the file-size limit RLIMIT_FSIZE set
// to `fsize_limit` bytes (writes beyond it fail with EFBIG, since SIGXFSZ is
// ignored); standard output and errors are read together.
inline e2e::RunResult RunLimited(const std::string& binary, const std::vector<std::string>& args,
                                 const std::string& cwd, rlim_t fsize_limit) {
  e2e::RunResult result;
  int out_pipe[2];
  if (pipe(out_pipe) != 0) {
    ADD_FAILURE() << "pipe failed";
    return result;
  }
  const pid_t pid = Spawn(binary, args, cwd, out_pipe[1], [&] {
    close(out_pipe[0]);
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit = {fsize_limit, fsize_limit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  });
  close(out_pipe[1]);
  char buf[65536];
  ssize_t n;
  while ((n = read(out_pipe[0], buf, sizeof buf)) > 0)
    result.out.append(buf, static_cast<size_t>(n));
  close(out_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exit_code = ExitCode(status);
  return result;
}
#endif

// Every entry of the archive, live or flagged, can be read back whole: its
// block lies in the file behind the header, is not empty, and decodes to
// exactly RawLen bytes (RLE) or is RawLen bytes itself (stored as is).
inline ::testing::AssertionResult EntriesReadable(const xkrf_test::Archive& archive) {
  for (size_t i = 0; i < archive.entries.size(); ++i) {
    const xkrf_test::Entry& e = archive.entries[i];
    const std::string where = "entry " + std::to_string(i) + " '" + e.name + "': ";
    if (!e.terminated) return ::testing::AssertionFailure() << where << "name without zero";
    if (e.size < 1 || e.ofs < static_cast<int32_t>(xkrf_test::kHeaderSize) ||
        static_cast<int64_t>(e.ofs) + e.size > archive.dir_ofs) {
      return ::testing::AssertionFailure()
             << where << "block " << e.ofs << "+" << e.size << " outside the data area";
    }
    if (e.type & xkrf_test::kRle) {
      Bytes decoded;
      if (!xkrf_test::DecodeRle(archive.Stored(e), &decoded) ||
          static_cast<int64_t>(decoded.size()) != e.raw_len) {
        return ::testing::AssertionFailure() << where << "RLE stream is not RawLen bytes";
      }
    } else if (e.size != e.raw_len) {
      return ::testing::AssertionFailure() << where << "Size differs from RawLen";
    }
  }
  return ::testing::AssertionSuccess();
}

// The live entries by name, with what they hold; a name live twice fails the
// current test.
inline Contents LiveContents(const xkrf_test::Archive& archive) {
  Contents live;
  for (const xkrf_test::Entry& e : archive.entries) {
    if ((e.type & xkrf_test::kLive) == 0) continue;
    EXPECT_TRUE(live.emplace(e.name, archive.Content(e)).second) << e.name << " is live twice";
  }
  return live;
}

// Loads the archive at `path`, checks that every entry reads back whole and
// returns the live contents.
inline Contents ReadableLiveContents(const std::string& path) {
  xkrf_test::Archive archive;
  std::string why;
  if (!xkrf_test::ParseArchive(e2e::ReadFile(path), &archive, &why)) {
    ADD_FAILURE() << path << " does not open: " << why;
    return {};
  }
  EXPECT_TRUE(EntriesReadable(archive)) << path;
  return LiveContents(archive);
}

// The names of a map, for messages.
inline std::string NamesOf(const Contents& contents) {
  std::string out;
  for (const auto& [name, bytes] : contents) out += (out.empty() ? "" : " ") + name;
  return out;
}

}  // namespace reliability
