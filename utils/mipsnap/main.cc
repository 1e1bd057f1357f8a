#include <unistd.h>

#include "host/process.h"
#include "mipsnap/mipsnap.h"
#include "pcxframe/console_stream.h"
#include "pcxframe/exit_status.h"

int main(int argc, char** argv) {
  // First of all: no file opened later can become the console.
  host::GuardStandardDescriptors();
  pcxframe::ConsoleStream out(STDOUT_FILENO);
  const int status = mipsnap::RunMipsnap(argc, argv, out, out.interactive());
  return out.Finish("mipsnap") ? status : pcxframe::kExitFatal;
}
