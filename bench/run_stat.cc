// krf_run_stat: runs one command and reports its wall time, its peak
// resident memory and its exit status on one line, "SECONDS MAXRSS_KIB
// STATUS". The command reads /dev/null, so nothing ever waits for a key; its
// standard output goes to a file (/dev/null by default) or, with -p, into a
// pipe that is read and thrown away, as when output is piped to a pager.
// Exits 0 when the command exited 0, else 1.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr char kUsage[] = "usage: krf_run_stat [-C DIR] [-o FILE | -p] -- PROGRAM [ARG...]\n";

struct Options {
  const char* dir = nullptr;
  const char* output = "/dev/null";
  bool pipe = false;
  char** command = nullptr;
};

bool Parse(int argc, char** argv, Options* opt) {
  int i = 1;
  for (; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg == "-p") {
      opt->pipe = true;
    } else if ((arg == "-C" || arg == "-o") && i + 1 < argc) {
      (arg == "-C" ? opt->dir : opt->output) = argv[++i];
    } else {
      return false;
    }
  }
  if (i >= argc) return false;
  opt->command = argv + i;
  return true;
}

// In the child: sets up the folder and descriptors, then becomes the command.
[[noreturn]] void Exec(const Options& opt, int pipe_write) {
  if (opt.dir != nullptr && chdir(opt.dir) != 0) {
    std::fprintf(stderr, "krf_run_stat: cannot enter '%s': %s\n", opt.dir, std::strerror(errno));
    _exit(127);
  }
  const int in = open("/dev/null", O_RDONLY);
  const int out = opt.pipe ? pipe_write : open(opt.output, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (in < 0 || out < 0 || dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0) {
    std::fprintf(stderr, "krf_run_stat: cannot redirect: %s\n", std::strerror(errno));
    _exit(127);
  }
  execvp(opt.command[0], opt.command);
  std::fprintf(stderr, "krf_run_stat: cannot run '%s': %s\n", opt.command[0], std::strerror(errno));
  _exit(127);
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (!Parse(argc, argv, &opt)) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  int fds[2] = {-1, -1};
  if (opt.pipe && pipe(fds) != 0) {
    std::perror("krf_run_stat: pipe");
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) {
    std::perror("krf_run_stat: fork");
    return 1;
  }
  if (child == 0) {
    if (opt.pipe) close(fds[0]);
    Exec(opt, fds[1]);
  }
  if (opt.pipe) {
    close(fds[1]);
    static char sink[1 << 16];
    ssize_t n;
    while ((n = read(fds[0], sink, sizeof sink)) != 0) {
      if (n < 0 && errno != EINTR) break;
    }
    close(fds[0]);
  }
  int status = 0;
  struct rusage usage = {};
  while (wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::perror("krf_run_stat: wait4");
      return 1;
    }
  }
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%.6f %ld %d\n", wall.count(), usage.ru_maxrss, code);
  return code == 0 ? 0 : 1;
}
