#include <cstdio>

#include "host/process.h"
#include "snapback/snapback.h"

int main(int argc, char** argv) {
  // First of all: no file opened later can become the console.
  host::GuardStandardDescriptors();
  host::Arguments args(argc, argv);
  const int status = snapback::RunSnapback(args.argc(), args.argv(), stdout, stderr);
  return host::FinishConsole(stdout, "snapback") ? status : 1;
}
