#include <unistd.h>

#include <cstdio>

#include "xkrf/xkrf.h"

int main(int argc, char** argv) {
  // Long runs print a line per file: large writes where nobody watches.
  static char buffer[1 << 16];
  if (isatty(fileno(stdout)) != 1) std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  return xkrf::RunXkrf(argc, argv, stdout);
}
