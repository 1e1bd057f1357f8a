#include <cstdio>

#include "host/console.h"
#include "host/process.h"
#include "xkrf/run_state.h"
#include "xkrf/xkrf.h"

int main(int argc, char** argv) {
  host::GuardStandardDescriptors();
  host::Arguments args(argc, argv);
  // Long runs print a line per file: large writes where nobody watches.
  static char buffer[1 << 16];
  if (!host::IsTerminal(host::kStandardOutput)) std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  const int status = xkrf::RunXkrf(args.argc(), args.argv(), stdout);
  return host::FinishConsole(stdout, "xkrf") ? status : xkrf::kExitFatal;
}
