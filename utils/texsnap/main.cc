#include "about/exit_status.h"
#include "host/process.h"
#include "pcxframe/console_stream.h"
#include "texsnap/texsnap.h"

int main(int argc, char** argv) {
  // First of all: no file opened later can become the console.
  host::GuardStandardDescriptors();
  host::Arguments args(argc, argv);
  pcxframe::ConsoleStream out(host::kStandardOutput);
  const int status = texsnap::RunTexsnap(args.argc(), args.argv(), out, out.interactive());
  return out.Finish("texsnap") ? status : about::kExitFatal;
}
