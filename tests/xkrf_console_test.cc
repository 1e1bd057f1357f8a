// What xkrf does with a console that fails it: a closed standard output, a
// full disk behind it, a pipe nobody reads. The archive never receives a
// byte of console text, the run finishes its work, and the failed output
// ends it with status 1 and a message on standard error. Progress reaches a
// pipe while the run is busy, not only at its end.
#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <tuple>

#include "reliability_support.h"
#include "xkrf_archive.h"
#include "xkrf_run.h"

namespace xkrf_test {
namespace {

using e2e::ScratchDir;

// Runs xkrf with `prepare` setting up its standard output in the child;
// returns the exit code and standard error.
std::pair<int, std::string> RunWithConsole(const std::vector<std::string>& args,
                                           const std::string& cwd,
                                           const std::function<void()>& prepare) {
  int err_pipe[2];
  if (pipe(err_pipe) != 0) return {-1, "pipe failed"};
  const pid_t pid = e2e::Spawn(XKRF_BIN, args, cwd, -1, err_pipe[1], [&] {
    close(err_pipe[0]);
    prepare();
  });
  close(err_pipe[1]);
  std::string err;
  char buf[4096];
  for (ssize_t n; (n = read(err_pipe[0], buf, sizeof buf)) > 0;) err.append(buf, n);
  close(err_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return {reliability::ExitCode(status), err};
}

// src/f0.bin ... in `dir`, of mixed kinds; returns their contents.
std::vector<Bytes> WriteSources(const ScratchDir& dir, int count) {
  std::vector<Bytes> contents;
  for (int i = 0; i < count; ++i) {
    contents.push_back(reliability::Sample(20 + i % 50, static_cast<uint32_t>(i), i % 2 == 0));
    e2e::WriteFile(dir / ("src/f" + std::to_string(i) + ".bin"), contents.back());
  }
  return contents;
}

TEST(XkrfConsole, FailedConsoleOutputNeverReachesTheArchive) {
  const struct {
    std::string what;
    std::function<void()> prepare;  // runs in the child
    std::string message;
  } cases[] = {
      {"closed", [] { close(STDOUT_FILENO); }, "xkrf: write error: Bad file descriptor\n"},
      {"full disk",
       [] {
         const int fd = open("/dev/full", O_WRONLY);
         dup2(fd, STDOUT_FILENO);
       },
       "xkrf: write error: No space left on device\n"},
      {"pipe nobody reads",
       [] {
         int p[2];
         if (pipe(p) != 0) _exit(125);
         dup2(p[1], STDOUT_FILENO);
         close(p[0]);
         // As a shell leaves it: `xkrf t '*.*' | head -1` once head is gone.
         signal(SIGPIPE, SIG_DFL);
       },
       "xkrf: write error: Broken pipe\n"},
  };
  // Enough files for more than one buffer of console text, shared by the
  // cases, each with its own archive.
  constexpr int kFiles = 1800;
  ScratchDir dir;
  const std::vector<Bytes> contents = WriteSources(dir, kFiles);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.what == "full disk" && access("/dev/full", W_OK) != 0) continue;
    const std::string name = "t" + std::to_string(&c - cases);
    // The first run makes the archive, so the second opens it first thing.
    ASSERT_EQ(Xkrf({name, "src/f0.bin"}, dir.path()).exit_code, 0);
    const auto [code, err] = RunWithConsole({name, "src/*.bin"}, dir.path(), c.prepare);
    EXPECT_EQ(code, 1);
    // The reason is known when the last write failed; a failure earlier in
    // the run is reported without it.
    EXPECT_TRUE(err == c.message || err == "xkrf: write error\n") << err;
    ASSERT_TRUE(IsFinishedArchive(dir / (name + ".krf")));
    const Archive archive = LoadArchive(dir / (name + ".krf"));
    ASSERT_EQ(archive.entries.size(), static_cast<size_t>(kFiles));
    for (const Entry& e : archive.entries) {
      const int i = std::stoi(e.name.substr(5));
      ASSERT_EQ(archive.Content(e), contents[static_cast<size_t>(i)]) << e.name;
    }
  }
}

// Extracting and deleting into a pipe whose reader has gone (SIGPIPE at its
// default, as after `| head -1`): every file is extracted, the compaction
// completes, and the broken pipe is reported once at the end with status 1.
TEST(XkrfConsole, BrokenPipeLetsExtractAndDeleteFinish) {
  const auto broken_pipe = [] {
    int p[2];
    if (pipe(p) != 0) _exit(125);
    dup2(p[1], STDOUT_FILENO);
    close(p[0]);
    signal(SIGPIPE, SIG_DFL);
  };
  // More console text than one buffer holds, so writes fail mid-run.
  constexpr int kFiles = 1500;
  ScratchDir dir;
  const std::vector<Bytes> contents = WriteSources(dir, kFiles);
  ASSERT_EQ(Xkrf({"t", "src/*.bin"}, dir.path()).exit_code, 0);
  e2e::MakeDirs(dir / "out");
  std::filesystem::copy_file(dir / "t.krf", dir / "out/t.krf");

  auto [code, err] = RunWithConsole({"t", "src/*.bin", "-ext"}, dir / "out", broken_pipe);
  EXPECT_EQ(code, 1);
  EXPECT_TRUE(err == "xkrf: write error: Broken pipe\n" || err == "xkrf: write error\n") << err;
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "out/src/f" + std::to_string(i) + ".bin";
    ASSERT_TRUE(e2e::ReadFile(dir / name) == contents[static_cast<size_t>(i)]) << name;
  }

  // f1*.bin selects every name that begins with f1.
  std::tie(code, err) = RunWithConsole({"t", "src/f1*.bin", "-del"}, dir.path(), broken_pipe);
  EXPECT_EQ(code, 1);
  EXPECT_TRUE(err == "xkrf: write error: Broken pipe\n" || err == "xkrf: write error\n") << err;
  ASSERT_TRUE(IsFinishedArchive(dir / "t.krf"));
  const Archive archive = LoadArchive(dir / "t.krf");
  size_t kept = 0;
  for (int i = 0; i < kFiles; ++i) kept += std::to_string(i)[0] != '1';
  ASSERT_EQ(archive.entries.size(), kept);
  for (const Entry& e : archive.entries) {
    const int i = std::stoi(e.name.substr(5));
    ASSERT_NE(std::to_string(i)[0], '1') << e.name;
    ASSERT_EQ(archive.Content(e), contents[static_cast<size_t>(i)]) << e.name;
  }
}

// Reads what the pipe holds until `want` has arrived or `seconds` passed.
bool AwaitText(int fd, const std::string& want, std::string* got, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (got->find(want) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return got->find(want) != std::string::npos;
    got->append(buf, static_cast<size_t>(n));
  }
  return true;
}

// Progress into a pipe arrives while the run is busy. The run is held twice
// by locks this test takes: on the archive before it starts, so that time
// passes, and on a file at the compaction's temporary name, where it stays
// until the test lets go. Its first line of work must have arrived by then.
TEST(XkrfConsole, ProgressReachesAPipeWhileTheRunIsBusy) {
  ScratchDir dir;
  e2e::WriteFile(dir / "a.bin", Bytes(100, 'a'));
  ASSERT_EQ(Xkrf({"data", "a.bin"}, dir.path()).exit_code, 0);
  const int archive = open((dir / "data.krf").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(archive, LOCK_EX), 0);
  e2e::WriteFile(dir / kTempName, Bytes(3, 't'));
  const int temp = open((dir / kTempName).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(temp, LOCK_EX), 0);

  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid =
      e2e::Spawn(XKRF_BIN, {"data", "a.bin"}, dir.path(), out[1], -1, [&] { close(out[0]); });
  close(out[1]);
  std::string got;
  EXPECT_TRUE(AwaitText(out[0], "waiting for another run", &got, 20)) << got;
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  close(archive);  // the run goes on, replaces a.bin, and waits at the temporary name
  EXPECT_TRUE(AwaitText(out[0], "adding 'a.bin'", &got, 20)) << got;
  close(temp);
  std::string rest;
  AwaitText(out[0], "no such text", &rest, 20);
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(reliability::ExitCode(status), 0);
  EXPECT_NE((got + rest).find(kUpdating), std::string::npos) << got + rest;
  EXPECT_TRUE(IsFinishedArchive(dir / "data.krf"));
  EXPECT_FALSE(e2e::Exists(dir / kTempName));
}

}  // namespace
}  // namespace xkrf_test
#else
#include "e2e_support.h"

namespace xkrf_test {
namespace {

TEST(XkrfConsole, FailedConsoleOutputNeverReachesTheArchive) {
  E2E_WINDOWS_LACKS("closed or full standard output, SIGPIPE and flock");
}
TEST(XkrfConsole, BrokenPipeLetsExtractAndDeleteFinish) {
  E2E_WINDOWS_LACKS("closed or full standard output, SIGPIPE and flock");
}
TEST(XkrfConsole, ProgressReachesAPipeWhileTheRunIsBusy) {
  E2E_WINDOWS_LACKS("closed or full standard output, SIGPIPE and flock");
}

}  // namespace
}  // namespace xkrf_test
#endif
