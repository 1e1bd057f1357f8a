// The add action: storing the files that match the mask.
#pragma once

#include "xkrf/run_state.h"

namespace xkrf {

// Walks the mask's folder (and with subdirs every folder below it), stores
// each matching file behind the archive's data, and enters it in st->dir,
// replacing a live entry of the same name.
void add(RunState* st);

}  // namespace xkrf
