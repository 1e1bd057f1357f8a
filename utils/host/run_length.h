// The run-length codec is a library of its own (rle/run_length.h); this
// name stays only for code that still includes the codec from here.
#pragma once

#include "rle/run_length.h"

namespace host {

using rle::EncodeRuns;

}  // namespace host
