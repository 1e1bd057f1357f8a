// mipsnap: writes every picture and texture lump of a WAD2 file as a PCX
// file named after the lump into <prefix>textures/.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "mipsnap/wad.h"
#include "pcxframe/frame.h"

namespace mipsnap {

inline constexpr std::string_view kTexturesDir = "textures/";

// The whole tool: argv[1] is the WAD2 file, argv[2] an optional text put in
// front of "textures/". Returns the exit status; all output goes to `out`
// (`interactive`: a terminal).
int RunMipsnap(int argc, const char* const* argv, std::ostream& out, bool interactive = false);

// Converts the lumps in directory order, one progress line each.
void LetUsRock(pcxframe::Frame& frame, const Wad& wad, const std::string& dest_path);

// Each returns false, with nothing printed, when the lump does not meet its
// rule; `name` is the lump's name.
bool single_convert_pic(pcxframe::Frame& frame, const pcxframe::Region& pic,
                        const std::string& dest_path, const std::string& name);
bool single_convert_mip(pcxframe::Frame& frame, const pcxframe::Region& mip,
                        const std::string& dest_path, const std::string& name);

}  // namespace mipsnap
