// The xkrf tool: one action on one archive per run.
#pragma once

#include <cstdio>

namespace xkrf {

// Runs the tool with the command line `argv` (argv[0] is the program),
// printing everything to `out`. Returns the process's exit status.
int RunXkrf(int argc, const char* const* argv, std::FILE* out);

}  // namespace xkrf
