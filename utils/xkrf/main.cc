#include <unistd.h>

#include <cstdio>

#include "host/process.h"
#include "xkrf/run_state.h"
#include "xkrf/xkrf.h"

int main(int argc, char** argv) {
  host::GuardStandardDescriptors();
  // Long runs print a line per file: large writes where nobody watches.
  static char buffer[1 << 16];
  if (isatty(fileno(stdout)) != 1) std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  const int status = xkrf::RunXkrf(argc, argv, stdout);
  return host::FinishConsole(stdout, "xkrf") ? status : xkrf::kExitFatal;
}
