// The actions on entries already in the archive.
#pragma once

#include <cstdio>
#include <string>

#include "xkrf/run_state.h"

namespace xkrf {

// Prints the matching entries as a table in pages of 22 rows, waiting for a
// key between pages and at the end.
void list(RunState* st);

// Writes every matching entry out as a file below the working directory.
void ext(RunState* st);

// Flags every matching entry deleted; finishing the run then compacts.
void del(RunState* st);

// Checks every matching entry (name, type, sizes, block bounds and
// overlaps, RLE stream) and prints one line each and a summary; sets
// st->damaged when any entry is not sound. Changes nothing.
void verify(RunState* st);

// One row of the listing, line end included.
std::string ListingRow(const krfdir_t& entry);

}  // namespace xkrf
