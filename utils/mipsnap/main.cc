#include "about/exit_status.h"
#include "host/process.h"
#include "mipsnap/mipsnap.h"
#include "pcxframe/console_stream.h"

int main(int argc, char** argv) {
  // First of all: no file opened later can become the console.
  host::GuardStandardDescriptors();
  host::Arguments args(argc, argv);
  pcxframe::ConsoleStream out(host::kStandardOutput);
  const int status = mipsnap::RunMipsnap(args.argc(), args.argv(), out, out.interactive());
  return out.Finish("mipsnap") ? status : about::kExitFatal;
}
