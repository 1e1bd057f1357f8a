// picsnap: converts one picture lump file (name.lmp) into name.pcx beside it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "pcxframe/frame.h"

namespace picsnap {

// The whole tool: argv[1] is the lump's name without ".lmp". Returns the
// exit status; all output goes to `out` (`interactive`: a terminal).
int RunPicsnap(int argc, const char* const* argv, std::ostream& out, bool interactive = false);

// Reads name.lmp and converts it; every failure is fatal.
void LetUsRock(pcxframe::Frame& frame, const std::string& name);

// Writes name.pcx when `pic` is a valid picture; false (nothing printed) when
// it is not.
bool single_convert_pic(pcxframe::Frame& frame, const pcxframe::Region& pic,
                        const std::string& name);

}  // namespace picsnap
