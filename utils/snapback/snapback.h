// snapback: edited PCX and PNG images back into picture lumps, WAL
// textures and WAD2 files, coloured with a palette.
//
//   snapback lmp [OPTIONS] IMAGE...
//   snapback wal [OPTIONS] IMAGE...
//   snapback wad [OPTIONS] OUT.wad IMAGE...
#pragma once

#include <cstdio>

namespace snapback {

// Runs one command line; returns the exit status: 0 all done, 2 finished
// with some images skipped (each reported on `err`), 1 fatal. One line per
// file written goes to `out` unless -q.
int RunSnapback(int argc, char** argv, std::FILE* out, std::FILE* err);

}  // namespace snapback
