#include "host/console.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace host {

namespace {

struct termios g_saved_mode;
volatile sig_atomic_t g_mode_changed = 0;

void RestoreMode() {
  if (g_mode_changed) {
    tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_mode);
    g_mode_changed = 0;
  }
}

extern "C" void RestoreAndReraise(int sig) {
  RestoreMode();
  signal(sig, SIG_DFL);
  raise(sig);
}

constexpr int kFatalSignals[] = {SIGTERM, SIGHUP, SIGQUIT};

}  // namespace

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

void WaitForKey() {
  if (!StdinIsTerminal()) return;
  if (tcgetattr(STDIN_FILENO, &g_saved_mode) != 0) return;

  struct sigaction handler = {};
  handler.sa_handler = RestoreAndReraise;
  sigemptyset(&handler.sa_mask);
  struct sigaction previous[sizeof kFatalSignals / sizeof kFatalSignals[0]];
  for (size_t i = 0; i < sizeof kFatalSignals / sizeof kFatalSignals[0]; ++i) {
    sigaction(kFatalSignals[i], &handler, &previous[i]);
  }

  struct termios raw = g_saved_mode;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  g_mode_changed = 1;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);

  unsigned char key = 0;
  ssize_t r;
  do {
    r = read(STDIN_FILENO, &key, 1);
  } while (r < 0 && errno == EINTR);

  RestoreMode();
  for (size_t i = 0; i < sizeof kFatalSignals / sizeof kFatalSignals[0]; ++i) {
    sigaction(kFatalSignals[i], &previous[i], nullptr);
  }
  if (r == 1 && key == g_saved_mode.c_cc[VINTR]) raise(SIGINT);
}

}  // namespace host
