#include "about/exit_status.h"
#include "host/process.h"
#include "pcxframe/console_stream.h"
#include "picsnap/picsnap.h"

int main(int argc, char** argv) {
  // First of all: no file opened later can become the console.
  host::GuardStandardDescriptors();
  host::Arguments args(argc, argv);
  pcxframe::ConsoleStream out(host::kStandardOutput);
  const int status = picsnap::RunPicsnap(args.argc(), args.argv(), out, out.interactive());
  return out.Finish("picsnap") ? status : about::kExitFatal;
}
