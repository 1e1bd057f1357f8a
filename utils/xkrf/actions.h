// The actions on entries already in the archive.
#pragma once

#include <cstdio>
#include <string>

#include "host/safe_tree.h"
#include "mixed/mixed.h"
#include "xkrf/run_state.h"

namespace xkrf {

// Prints the matching entries as a table in pages of 22 rows, waiting for a
// key between pages and at the end.
void list(RunState* st);

// Writes every matching entry out as a file below the working directory.
void ext(RunState* st);
// State and buffers reused from entry to entry, so memory stays bounded and fresh
// pages are not touched for every file.
struct ExtractBuffers {
  static constexpr int64_t kChunk = 1 << 20;
  // RLE blocks are decoded in pieces of this size, each at most ~2 MiB out.
  static constexpr int64_t kRlePiece = 1 << 16;
  std::vector<uint8_t> chunk = std::vector<uint8_t>(kChunk);
  std::vector<uint8_t> decoded =
      std::vector<uint8_t>(mixed::RleDecoder::MaxOutput(kRlePiece));
  // The archive itself, which no entry may overwrite.
  uint64_t archive_device = 0;
  uint64_t archive_inode = 0;
};

// Writes entry `index` below the working directory; `tree` keeps the folder
// of the previous entry open and what it learnt of every folder entered
// before. An unsafe name, or one without its terminating zero, is skipped
// through Skip().
void single_extract(RunState* st, size_t index, host::SafeTree* tree, ExtractBuffers* buffers);

// Flags every matching entry deleted; finishing the run then compacts.
void del(RunState* st);

// Checks every matching entry (name, type, sizes, block bounds and
// overlaps, RLE stream) and prints one line each and a summary; sets
// st->damaged when any entry is not sound. Changes nothing.
void verify(RunState* st);

// One row of the listing, line end included.
std::string ListingRow(const krfdir_t& entry);

}  // namespace xkrf
