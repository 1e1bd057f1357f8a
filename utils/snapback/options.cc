#include "snapback/options.h"

#include <getopt.h>

#include <cstdlib>

#include "about/about.h"

namespace snapback {

namespace {

constexpr char kUsage[] =
    "Usage: snapback lmp [OPTIONS] IMAGE...          each IMAGE -> NAME.lmp, a picture lump\n"
    "       snapback wal [OPTIONS] IMAGE...          each IMAGE -> NAME.wal, a WAL texture\n"
    "       snapback wad [OPTIONS] OUT.wad IMAGE...  one WAD2 file holding every IMAGE\n"
    "IMAGE is a PCX (8-bit with its palette, or 24-bit) or PNG file; NAME is its\n"
    "file name without the extension.\n"
    "  -p, --palette FILE   the colours to map to (default: palette.lmp)\n"
    "  -o, --output DIR     write into DIR, created when missing (lmp, wal)\n"
    "      --pic            wad: store the images as pictures, not textures\n"
    "      --fullbright N   indices N..255 only for pixels of exactly their colour\n"
    "      --dither         Floyd-Steinberg error diffusion instead of the nearest colour\n"
    "  -q, --quiet          no line per file written\n"
    "  -h, --help           show this text\n"
    "  -V, --version        show the version\n"
    "Exit status: 0 all done, 2 some images skipped, 1 fatal error.\n";

enum LongOnly { kPic = 256, kFullbright, kDither };

const option kLongOptions[] = {
    {"palette", required_argument, nullptr, 'p'},
    {"output", required_argument, nullptr, 'o'},
    {"pic", no_argument, nullptr, kPic},
    {"fullbright", required_argument, nullptr, kFullbright},
    {"dither", no_argument, nullptr, kDither},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

int ParseFullbright(const char* text) {
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || n < 1 || n > 255) {
    throw UsageError(std::string("--fullbright needs an index from 1 to 255, not '") + text + "'");
  }
  return static_cast<int>(n);
}

// The option getopt_long stopped at, as the user typed it.
std::string Offending(char** args) {
  if (optopt > 0 && optopt < 256) return std::string("-") + static_cast<char>(optopt);
  return args[optind - 1];
}

}  // namespace

Parsed ParseCommandLine(int argc, char** argv, std::FILE* out, Options* options) {
  // The command is the first word; --help and --version also stand alone.
  int first = 1;
  if (argc > 1 && argv[1][0] != '-') {
    const std::string command = argv[1];
    if (command == "lmp") {
      options->command = Command::kLmp;
    } else if (command == "wal") {
      options->command = Command::kWal;
    } else if (command == "wad") {
      options->command = Command::kWad;
    } else {
      throw UsageError("unknown command '" + command + "' (lmp, wal or wad)");
    }
    first = 2;
  }
  char** args = argv + first - 1;  // args[0] stands for the program name
  const int count = argc - first + 1;
  optind = 0;  // a fresh scan each call
  opterr = 0;
  int c;
  while ((c = getopt_long(count, args, ":p:o:qhV", kLongOptions, nullptr)) != -1) {
    switch (c) {
      case 'p':
        options->palette_path = optarg;
        break;
      case 'o':
        options->output_dir = optarg;
        break;
      case 'q':
        options->quiet = true;
        break;
      case kPic:
        options->pictures = true;
        break;
      case kDither:
        options->dither = true;
        break;
      case kFullbright:
        options->fullbright = ParseFullbright(optarg);
        break;
      case 'h':
        std::fputs(kUsage, out);
        return Parsed::kAnswered;
      case 'V':
        about::PrintVersion(out, "snapback");
        return Parsed::kAnswered;
      case ':':
        throw UsageError("option '" + Offending(args) + "' needs a value");
      default:
        throw UsageError("unknown option '" + Offending(args) + "'");
    }
  }
  if (first == 1) throw UsageError("no command given (lmp, wal or wad)");
  for (int i = optind; i < count; ++i) options->images.emplace_back(args[i]);
  if (options->command == Command::kWad) {
    if (options->images.empty()) throw UsageError("no output WAD2 file given");
    options->wad_path = options->images.front();
    options->images.erase(options->images.begin());
    if (!options->output_dir.empty()) {
      throw UsageError("-o applies to lmp and wal; wad writes OUT.wad where it is told");
    }
  } else if (options->pictures) {
    throw UsageError("--pic applies to wad only");
  }
  if (options->images.empty()) throw UsageError("no image given");
  return Parsed::kRun;
}

}  // namespace snapback
