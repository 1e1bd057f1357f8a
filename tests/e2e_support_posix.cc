// Scratch folders and runs of the tools on POSIX systems.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "e2e_support.h"

namespace e2e {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::string tmpl = (fs::temp_directory_path() / "krftest-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
  }
  path_ = tmpl;
}

bool UnderWine() { return false; }

bool MakeFifo(const std::string& path) {
  const bool made = mkfifo(path.c_str(), 0644) == 0;
  EXPECT_TRUE(made) << "cannot make the FIFO " << path;
  return made;
}

pid_t Spawn(const std::string& binary, const std::vector<std::string>& args, const std::string& cwd,
            int out_fd, int err_fd, const std::function<void()>& prepare) {
  std::vector<std::string> store = {binary};
  store.insert(store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : store) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, STDIN_FILENO);
    dup2(out_fd < 0 ? null_fd : out_fd, STDOUT_FILENO);
    dup2(err_fd < 0 ? null_fd : err_fd, STDERR_FILENO);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    // A tool that hangs fails its test instead of stopping the suite: the
    // alarm survives exec and ends the run.
    alarm(kRunDeadlineSeconds);
    if (prepare) prepare();
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

RunResult RunWithin(const std::string& binary, const std::vector<std::string>& args,
                    const std::string& cwd, std::chrono::milliseconds limit,
                    const std::function<void()>& prepare) {
  RunResult result;
  int out_pipe[2], err_pipe[2];
  // Close-on-exec: the tool gets no descriptor but its standard three.
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return result;
  }
  const pid_t pid = Spawn(binary, args, cwd, out_pipe[1], err_pipe[1], prepare);
  close(out_pipe[1]);
  close(err_pipe[1]);
  // Drain both pipes together so a chatty tool never blocks on a full pipe.
  const bool limited = limit != kNoLimit;
  const auto deadline =
      std::chrono::steady_clock::now() + (limited ? limit : std::chrono::milliseconds(0));
  bool killed = false;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  char buf[65536];
  while (open_count > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const int wait_ms = killed || !limited
                            ? -1
                            : static_cast<int>(std::clamp<long long>(left.count(), 0, INT32_MAX));
    const int ready = poll(fds, 2, wait_ms);
    if (ready < 0) break;
    if (ready == 0) {
      kill(pid, SIGKILL);  // the pipes close as it dies
      killed = true;
      continue;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  result.max_rss_kb = usage.ru_maxrss;
  if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.exit_code = 128 + WTERMSIG(status);
  }
  EXPECT_FALSE(killed) << binary << " still ran after " << limit.count() << " ms";
  return result;
}

RunResult Run(const std::string& binary, const std::vector<std::string>& args,
              const std::string& cwd, const std::function<void()>& prepare) {
  return RunWithin(binary, args, cwd, kNoLimit, prepare);
}

}  // namespace e2e
