// The listing's key waits on a real terminal (a pseudo-terminal): they wait
// only where someone watches, and the terminal gets its mode back whatever
// signal ends or stops the wait. Every wait of these tests has a deadline; a
// child still running at one is killed and the test fails.
#ifndef _WIN32
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "xkrf_run.h"

namespace xkrf_test {
namespace {

using e2e::ScratchDir;
using Clock = std::chrono::steady_clock;

constexpr std::chrono::seconds kDeadline{20};

// A machine without pseudo-terminals (a chroot without /dev/pts mounted, a
// bare container) cannot run these tests at all: they skip, saying why.
std::string NoPseudoTerminal() {
  const int probe = posix_openpt(O_RDWR | O_NOCTTY);
  const char* slave =
      probe >= 0 && grantpt(probe) == 0 && unlockpt(probe) == 0 ? ptsname(probe) : nullptr;
  const bool usable = slave != nullptr && access(slave, R_OK | W_OK) == 0;
  const std::string why =
      usable ? "" : std::string("no pseudo-terminal here: ") + std::strerror(errno);
  if (probe >= 0) close(probe);
  return why;
}

constexpr tcflag_t kCookedFlags = ECHO | ICANON | ISIG;

// A scratch folder holding arch.krf with one entry, a.txt, stored as is.
struct Archive {
  ScratchDir dir;
  std::string row =
      "a.txt                                     5        none           5     0.00%\n";
  Archive() {
    e2e::WriteFile(dir / "a.txt", std::string("hello"));
    const e2e::RunResult added = Xkrf({"arch", "a.txt", "-none"}, dir.path());
    EXPECT_EQ(added.exit_code, 0) << added.out;
  }
};

struct Child {
  pid_t pid = -1;     // the process to wait for
  pid_t xkrf = -1;    // xkrf itself (the same as pid without job control)
  int master = -1;    // the pseudo-terminal's master side, non-blocking
  std::string shown;  // what the terminal showed so far
};

// Where the child's standard streams and signals come from.
struct Setup {
  int out_fd = -1;  // standard output instead of the terminal, -1 for none
  int ignored = 0;  // a signal xkrf inherits as ignored, 0 for none
  // xkrf runs as a job in its own process group in the foreground of the
  // terminal, below a session leader that waits for it the way a shell
  // does, so that a stop signal really stops it (a stop signal sent to an
  // orphaned process group such as the session leader's is discarded).
  // The session leader ends with xkrf's exit status, or 128 + the signal.
  bool job_control = false;
};

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void ExecListing(const std::string& cwd, char* const* argv, const Setup& setup) {
  if (setup.out_fd >= 0) dup2(setup.out_fd, STDOUT_FILENO);
  if (chdir(cwd.c_str()) != 0) _exit(126);
  for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);  // fails harmlessly where invalid
  if (setup.ignored != 0) signal(setup.ignored, SIG_IGN);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  const struct rlimit no_core = {0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  execv(argv[0], argv);
  _exit(127);
}

// Starts `xkrf arch -list` in `cwd` on a new pseudo-terminal, which is its
// controlling terminal and standard input, output and error.
Child StartListing(const std::string& cwd, const Setup& setup) {
  std::string binary = XKRF_BIN, arch = "arch", list = "-list";
  char* argv[] = {binary.data(), arch.data(), list.data(), nullptr};
  Child child;
  child.pid = forkpty(&child.master, nullptr, nullptr, nullptr);
  if (child.pid == 0) {
    if (!setup.job_control) ExecListing(cwd, argv, setup);
    const pid_t job = fork();
    if (job == 0) {
      // Take the terminal's foreground as a shell gives it to a job: with
      // SIGTTOU blocked, since this process is not yet in the foreground.
      sigset_t ttou;
      sigemptyset(&ttou);
      sigaddset(&ttou, SIGTTOU);
      sigprocmask(SIG_BLOCK, &ttou, nullptr);
      setpgid(0, 0);
      tcsetpgrp(STDIN_FILENO, getpid());
      ExecListing(cwd, argv, setup);
    }
    int status = 0;
    while (waitpid(job, &status, 0) < 0) {
      if (errno != EINTR) _exit(125);
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  }
  if (child.pid < 0) {
    ADD_FAILURE() << "forkpty failed: " << std::strerror(errno);
    return child;
  }
  fcntl(child.master, F_SETFL, fcntl(child.master, F_GETFL) | O_NONBLOCK);
  child.xkrf = child.pid;
  return child;
}

// Reads what the terminal shows, waiting at most `ms` milliseconds for it.
// False once the terminal has no writer left and everything was read.
bool Drain(Child* child, int ms) {
  pollfd p = {child->master, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return true;
  char buf[4096];
  ssize_t n;
  while ((n = read(child->master, buf, sizeof buf)) > 0)
    child->shown.append(buf, static_cast<size_t>(n));
  return n < 0 && errno == EAGAIN;
}

tcflag_t LocalFlags(const Child& child) {
  struct termios mode {};
  EXPECT_EQ(tcgetattr(child.master, &mode), 0) << std::strerror(errno);
  return mode.c_lflag;
}

bool Cooked(const Child& child) { return (LocalFlags(child) & kCookedFlags) == kCookedFlags; }
bool Raw(const Child& child) { return (LocalFlags(child) & kCookedFlags) == 0; }

// Waits, reading the terminal all the while, until `done` holds; false when
// the deadline passes first.
bool WaitUntil(Child* child, const std::function<bool()>& done) {
  const auto deadline = Clock::now() + kDeadline;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    Drain(child, 10);
  }
  return true;
}

// The process state letter from /proc ('T' when stopped), '?' when gone.
char ProcState(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t paren = text.rfind(')');
  return paren == std::string::npos || paren + 2 >= text.size() ? '?' : text[paren + 2];
}

// Waits for the child to end and returns its wait status; at the deadline
// kills it and fails the test.
int WaitForEnd(Child* child) {
  int status = 0;
  pid_t done = 0;
  if (!WaitUntil(child, [&] { return (done = waitpid(child->pid, &status, WNOHANG)) != 0; })) {
    ADD_FAILURE() << "xkrf still running at the deadline; the terminal showed:\n" << child->shown;
    if (child->xkrf != child->pid) kill(child->xkrf, SIGKILL);
    kill(child->pid, SIGKILL);
    waitpid(child->pid, &status, 0);
    return -1;
  }
  EXPECT_EQ(done, child->pid);
  // The rest of what it wrote, up to the terminal's end.
  const auto deadline = Clock::now() + kDeadline;
  while (Drain(child, 10) && Clock::now() < deadline) {
  }
  return status;
}

// The listing of the one-entry archive has reached the terminal and the
// terminal is in the wait's mode: the final key wait has begun.
::testing::AssertionResult ReachWait(Child* child, const std::string& row) {
  if (WaitUntil(child, [&] {
        return child->shown.find(row.substr(0, row.size() - 1)) != std::string::npos && Raw(*child);
      })) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "no key wait within the deadline; the terminal showed:\n"
                                       << child->shown;
}

std::string Describe(int status) {
  std::ostringstream s;
  if (WIFEXITED(status)) {
    s << "exit " << WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    s << "signal " << WTERMSIG(status) << " (" << strsignal(WTERMSIG(status)) << ")";
  } else {
    s << "status " << status;
  }
  return s.str();
}

// A signal from outside while the listing waits for a key: a signal that
// ends the process by default ends it by the same signal with the terminal
// back in its mode; a signal the process inherited as ignored changes
// nothing, and the next key ends the wait as usual. (No SIGPIPE: the tools
// ignore it, so that a broken pipe is a write error. No SIGSEGV and the
// like here: under the sanitizers those belong to the sanitizer's runtime,
// whose handlers the key wait leaves alone.)
TEST(XkrfTerminal, SignalDuringKeyWaitRestoresTheTerminal) {
  if (const std::string why = NoPseudoTerminal(); !why.empty()) GTEST_SKIP() << why;
  const struct Case {
    int sig;
    bool inherited_ignored;
  } cases[] = {
      {SIGINT, false},   {SIGTERM, false},  {SIGHUP, false},  {SIGQUIT, false},   {SIGALRM, false},
      {SIGUSR1, false},  {SIGUSR2, false},  {SIGXCPU, false}, {SIGVTALRM, false}, {SIGPROF, false},
      {SIGRTMIN, false}, {SIGRTMAX, false}, {SIGUSR1, true},
  };
  Archive archive;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(strsignal(c.sig)) +
                 (c.inherited_ignored ? ", inherited as ignored" : ""));
    Child child = StartListing(archive.dir.path(), {.ignored = c.inherited_ignored ? c.sig : 0});
    if (child.pid < 0) continue;
    ASSERT_TRUE(ReachWait(&child, archive.row));
    ASSERT_EQ(kill(child.pid, c.sig), 0);
    if (c.inherited_ignored) {
      // Still waiting, the terminal still in the wait's mode, after a while.
      Drain(&child, 300);
      EXPECT_EQ(waitpid(child.pid, nullptr, WNOHANG), 0);
      EXPECT_TRUE(Raw(child));
      ASSERT_EQ(write(child.master, "x", 1), 1);
      const int status = WaitForEnd(&child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Describe(status);
    } else {
      const int status = WaitForEnd(&child);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << Describe(status);
    }
    EXPECT_TRUE(Cooked(child)) << "local mode flags " << std::hex << LocalFlags(child);
    close(child.master);
  }
}

// A stop from outside (kill -TSTP; the suspend key does nothing in the
// wait's mode): the terminal gets its mode back while the listing is
// stopped, the wait's mode again when it continues, and a key then ends the
// listing as usual.
TEST(XkrfTerminal, StopDuringKeyWaitRestoresTheTerminalUntilContinued) {
  if (const std::string why = NoPseudoTerminal(); !why.empty()) GTEST_SKIP() << why;
  Archive archive;
  for (const int stop : {SIGTSTP, SIGTTIN, SIGTTOU}) {
    SCOPED_TRACE(strsignal(stop));
    Child child = StartListing(archive.dir.path(), {.job_control = true});
    if (child.pid < 0) continue;
    // xkrf is the terminal's foreground job.
    ASSERT_TRUE(WaitUntil(&child, [&] {
      child.xkrf = tcgetpgrp(child.master);
      return child.xkrf > 0 && child.xkrf != child.pid;
    }));
    ASSERT_TRUE(ReachWait(&child, archive.row));

    ASSERT_EQ(kill(child.xkrf, stop), 0);
    EXPECT_TRUE(WaitUntil(&child, [&] { return ProcState(child.xkrf) == 'T' && Cooked(child); }))
        << "state " << ProcState(child.xkrf) << ", local mode flags " << std::hex
        << LocalFlags(child);

    ASSERT_EQ(kill(child.xkrf, SIGCONT), 0);
    EXPECT_TRUE(WaitUntil(&child, [&] { return ProcState(child.xkrf) != 'T' && Raw(child); }))
        << "state " << ProcState(child.xkrf) << ", local mode flags " << std::hex
        << LocalFlags(child);

    ASSERT_EQ(write(child.master, "x", 1), 1);
    const int status = WaitForEnd(&child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Describe(status);
    EXPECT_TRUE(Cooked(child)) << "local mode flags " << std::hex << LocalFlags(child);
    EXPECT_NE(child.shown.find("Uh, we progressed 0 files..."), std::string::npos) << child.shown;
    close(child.master);
  }
}

// `xkrf arch -list | grep x` typed at a terminal: standard input is the
// terminal, standard output a pipe. Nobody sees the pages, so nothing waits
// for a key: the listing runs to its end at once, byte for byte as always,
// and the terminal's mode is never touched.
TEST(XkrfTerminal, NoKeyWaitWhenOutputIsNotATerminal) {
  if (const std::string why = NoPseudoTerminal(); !why.empty()) GTEST_SKIP() << why;
  Archive archive;
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  Child child = StartListing(archive.dir.path(), {.out_fd = out[1]});
  close(out[1]);
  ASSERT_GE(child.pid, 0);
  fcntl(out[0], F_SETFL, fcntl(out[0], F_GETFL) | O_NONBLOCK);
  std::string piped;
  bool piped_end = false;
  const auto read_pipe = [&] {
    char buf[4096];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0) piped.append(buf, static_cast<size_t>(n));
    if (n == 0) piped_end = true;
  };
  int status = 0;
  pid_t done = 0;
  bool mode_changed = false;
  EXPECT_TRUE(WaitUntil(&child,
                        [&] {
                          read_pipe();
                          if (done == 0) done = waitpid(child.pid, &status, WNOHANG);
                          if (done == 0 && !Cooked(child)) mode_changed = true;
                          return done != 0 && piped_end;
                        }))
      << "the listing did not end without a key; its output so far:\n"
      << piped;
  EXPECT_FALSE(mode_changed) << "the terminal's mode was changed";
  if (done == 0) {
    kill(child.pid, SIGKILL);
    waitpid(child.pid, &status, 0);
  } else {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Describe(status);
  }
  EXPECT_EQ(piped, Summary("list, ", "arch.krf", "") + Contains(1) + kListHead + archive.row +
                       std::string(21, '\n') + Finish(0));
  EXPECT_TRUE(Cooked(child));
  close(out[0]);
  close(child.master);
}

}  // namespace
}  // namespace xkrf_test
#else
#include "e2e_support.h"

namespace xkrf_test {
namespace {

TEST(XkrfTerminal, SignalDuringKeyWaitRestoresTheTerminal) {
  E2E_WINDOWS_LACKS("POSIX terminals and signals");
}
TEST(XkrfTerminal, StopDuringKeyWaitRestoresTheTerminalUntilContinued) {
  E2E_WINDOWS_LACKS("POSIX terminals and signals");
}
TEST(XkrfTerminal, NoKeyWaitWhenOutputIsNotATerminal) {
  E2E_WINDOWS_LACKS("POSIX terminals and signals");
}

}  // namespace
}  // namespace xkrf_test
#endif
