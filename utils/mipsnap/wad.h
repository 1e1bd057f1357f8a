// An open WAD2 file and its directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/wad.h"
#include "host/file.h"
#include "pcxframe/frame.h"

namespace mipsnap {

using formats::lumpinfo_t;
using formats::wadinfo_t;

struct Wad {
  host::File wad;
  int64_t file_size = 0;
  wadinfo_t wadinfo;
  std::vector<lumpinfo_t> lumpinfo;
};

// Opens `path` and loads its directory; ends the run on any failure. The
// directory's place is checked against the file before anything is
// allocated for it, so a damaged header cannot ask for absurd memory.
void InitWad(const std::string& path, Wad* wad);

// The lump as a stretch of the file with the bytes the rules read in memory;
// ends the run unless its `disk_size` bytes lie in the file (a lump of 0
// bytes is a failed read too).
pcxframe::Region ReadLump(const Wad& wad, const lumpinfo_t& lump);

}  // namespace mipsnap
