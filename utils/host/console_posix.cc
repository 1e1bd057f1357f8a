#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "host/console.h"

namespace host {

namespace {

// Signals whose default action ends the process and that can be caught
// (the real-time signals, SIGRTMIN to SIGRTMAX, come on top). Their handler
// restores the terminal's mode and ends the process by the same signal.
constexpr int kEndingSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1, SIGSEGV,
    SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

// Signals whose default action stops the process: the mode is restored
// before the stop and taken again on continuing.
constexpr int kStopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};

// The state below is shared with the handlers. The waiting code changes it
// only with every handled signal blocked, and each handler blocks them all
// while it runs, so no two pieces of code ever work on it at once.
struct termios g_saved_mode;               // the terminal's mode outside the wait
volatile sig_atomic_t g_mode_changed = 0;  // the terminal is in the wait's mode
struct sigaction g_previous[NSIG];         // the actions taken over, to give back
bool g_taken[NSIG];
struct sigaction g_stop_action;  // ours, put back after a stop

struct termios WaitMode(const struct termios& mode) {
  struct termios raw = mode;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  return raw;
}

// Async-signal-safe, like everything the handlers call.
void RestoreMode() {
  if (g_mode_changed) {
    tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_mode);
    g_mode_changed = 0;
  }
}

// Puts the terminal into the wait's mode, saving its mode first. Not while
// another process group has the terminal: a background job leaves it alone
// (its read stops it with SIGTTIN, and continuing in the foreground comes
// back here). A terminal that is not the controlling one has no foreground.
void EnterWaitMode() {
  if (g_mode_changed) return;
  const pid_t foreground = tcgetpgrp(STDIN_FILENO);
  if (foreground != -1 && foreground != getpgrp()) return;
  if (tcgetattr(STDIN_FILENO, &g_saved_mode) != 0) return;
  const struct termios raw = WaitMode(g_saved_mode);
  g_mode_changed = 1;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
}

// Sets `sig` to its default action, unblocks it and raises it: the process
// ends or stops here as if the handler had never been there.
void RaiseByDefault(int sig) {
  struct sigaction by_default = {};
  by_default.sa_handler = SIG_DFL;
  sigemptyset(&by_default.sa_mask);
  sigaction(sig, &by_default, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, sig);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(sig);
}

extern "C" void EndBySignal(int sig) {
  const int saved_errno = errno;
  RestoreMode();
  RaiseByDefault(sig);
  errno = saved_errno;  // not reached: the default action ends the process
}

extern "C" void StopBySignal(int sig) {
  const int saved_errno = errno;
  RestoreMode();
  RaiseByDefault(sig);  // the process stops here (unless its group is orphaned)
  sigaction(sig, &g_stop_action, nullptr);
  EnterWaitMode();
  errno = saved_errno;  // the read is then resumed
}

void AddHandled(sigset_t* set) {
  sigemptyset(set);
  for (int sig : kEndingSignals) sigaddset(set, sig);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaddset(set, sig);
  for (int sig : kStopSignals) sigaddset(set, sig);
}

// Installs `action` for `sig` when its current action is the default one.
void TakeOver(int sig, const struct sigaction& action) {
  struct sigaction previous;
  if (sigaction(sig, nullptr, &previous) != 0) return;
  if ((previous.sa_flags & SA_SIGINFO) != 0 || previous.sa_handler != SIG_DFL) return;
  if (sigaction(sig, &action, nullptr) == 0) {
    g_previous[sig] = previous;
    g_taken[sig] = true;
  }
}

void TakeSignals(const sigset_t& handled) {
  struct sigaction ending = {};
  ending.sa_handler = EndBySignal;
  ending.sa_mask = handled;
  for (int sig : kEndingSignals) TakeOver(sig, ending);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) TakeOver(sig, ending);
  g_stop_action = {};
  g_stop_action.sa_handler = StopBySignal;
  g_stop_action.sa_mask = handled;
  for (int sig : kStopSignals) TakeOver(sig, g_stop_action);
}

void GiveSignalsBack() {
  for (int sig = 1; sig < NSIG; ++sig) {
    if (g_taken[sig]) sigaction(sig, &g_previous[sig], nullptr);
    g_taken[sig] = false;
  }
}

}  // namespace

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

bool IsTerminal(int fd) { return isatty(fd) == 1; }

void WaitForKey() {
  if (!StdinIsTerminal() || isatty(STDOUT_FILENO) != 1) return;

  sigset_t handled, outside;
  AddHandled(&handled);
  sigprocmask(SIG_BLOCK, &handled, &outside);
  TakeSignals(handled);
  EnterWaitMode();
  sigprocmask(SIG_SETMASK, &outside, nullptr);

  unsigned char key = 0;
  ssize_t r;
  do {
    r = read(STDIN_FILENO, &key, 1);
  } while (r < 0 && errno == EINTR);

  sigprocmask(SIG_BLOCK, &handled, nullptr);
  // The key was read in the wait's mode, where the interrupt key makes no
  // signal of its own.
  const bool raw = g_mode_changed != 0;
  const cc_t interrupt = g_saved_mode.c_cc[VINTR];
  RestoreMode();
  GiveSignalsBack();
  sigprocmask(SIG_SETMASK, &outside, nullptr);  // what arrived meanwhile acts now
  if (r == 1 && raw && interrupt != _POSIX_VDISABLE && key == interrupt) raise(SIGINT);
}

}  // namespace host
