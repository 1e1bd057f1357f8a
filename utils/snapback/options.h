// snapback's command line: a command (lmp, wal or wad), options anywhere
// after it, then the files.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "snapback/colour_map.h"

namespace snapback {

enum class Command { kLmp, kWal, kWad };

struct Options {
  Command command = Command::kLmp;
  std::string palette_path = "palette.lmp";
  std::string output_dir;  // empty: beside each image
  bool pictures = false;   // wad: picture lumps instead of textures
  int fullbright = kNoFullbright;
  bool dither = false;
  bool quiet = false;
  std::string wad_path;  // wad: the file to write
  std::vector<std::string> images;
};

// A command line that cannot be run; the message names what is wrong.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Parsed { kRun, kAnswered };

// Fills *options from argv. --help and --version are answered on `out`
// (kAnswered); anything else wrong throws UsageError.
Parsed ParseCommandLine(int argc, char** argv, std::FILE* out, Options* options);

}  // namespace snapback
