// Turning the command line into the run's settings.
#pragma once

#include <cstdio>

#include "xkrf/run_state.h"

namespace xkrf {

// Reads argv[1..] into `*settings`, echoing each switch as it is taken.
// Throws Fatal with the message for every command-line error.
void ParseCommandLine(int argc, const char* const* argv, std::FILE* out, Settings* settings);

}  // namespace xkrf
