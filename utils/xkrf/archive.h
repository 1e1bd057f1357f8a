// Opening, loading, finishing and compacting the archive of a run.
#pragma once

#include "xkrf/run_state.h"

namespace xkrf {

// Opens the archive settings.name[0] (read only for listing and extracting,
// else for reading and writing), creating it empty when it does not exist,
// and takes the run's lock on it. Prints "creating '%s'...\n" for a new one.
void OpenArchive(RunState* st);

// Reads the header (st->header).
void ReadHeader(RunState* st);

// Loads the directory into st->dir and sets st->last_pos to the end of the
// data that the entries use.
void read_dir(RunState* st);

// Called before new blocks are written into [last_pos, last_pos + reach):
// when the directory on disk lies in that range, a copy of it is first put
// beyond the range and the header pointed at the copy.
void ProtectDirectory(RunState* st, int64_t reach);

// The offset that new data may reach at most when `extra_entries` more
// entries are added, so that ProtectDirectory and finish_krf write nothing
// beyond what the header's 32-bit offsets can point at.
int64_t DataLimit(const RunState& st, int64_t extra_entries);

// Writes the directory behind the data and the header, and compacts the
// archive when entries were deleted or superseded. Nothing is written when
// the run changed nothing.
void finish_krf(RunState* st);

// Rebuilds the archive without flagged entries and unused bytes in
// "xkrf1308.$$$" beside it, then renames that over the archive.
void update_krf(RunState* st);

// After a failed run: puts the archive back as it was when the run began, as
// far as the run's changes allow. Never throws.
void RollBack(RunState* st) noexcept;

}  // namespace xkrf
