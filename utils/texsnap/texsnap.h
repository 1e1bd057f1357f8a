// texsnap: converts every *.wal texture of the working directory into a
// PCX file of the same base name in <prefix>textures/.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "pcxframe/frame.h"

namespace texsnap {

inline constexpr std::string_view kTexturesDir = "textures/";

// The whole tool: argv[1], optional, is put in front of "textures/".
// Returns the exit status; all output goes to `out` (`interactive`: a
// terminal).
int RunTexsnap(int argc, const char* const* argv, std::ostream& out, bool interactive = false);

// Converts the *.wal files of the working directory in name order.
void LetUsRock(pcxframe::Frame& frame, const std::string& dest_path);

// Writes the texture of the WAL file `mip` as <dest_path><name>.pcx, or
// reports why it is skipped (which the exit status tells); `source` names
// the file in messages (the name with ".wal" when not given).
void single_convert_mip(pcxframe::Frame& frame, const pcxframe::Region& mip,
                        const std::string& dest_path, const std::string& name,
                        std::string_view source = {});

}  // namespace texsnap
