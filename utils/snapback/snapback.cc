#include "snapback/snapback.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "about/ascii.h"
#include "about/exit_status.h"
#include "about/fatal.h"
#include "formats/miptex.h"
#include "formats/pic.h"
#include "formats/wad.h"
#include "formats/wal.h"
#include "host/file.h"
#include "host/process.h"
#include "snapback/colour_map.h"
#include "snapback/image_file.h"
#include "snapback/mip_levels.h"
#include "snapback/options.h"
#include "snapback/ordered_work.h"
#include "snapback/output_file.h"

namespace snapback {

namespace {

using about::kExitFatal;
using about::kExitOk;
using about::kExitSkipped;
constexpr size_t kPaletteSize = 768;
// The largest sides the converters take back: pictures and WAD2 textures
// by their rules, WAL textures by what a PCX header can hold.
constexpr int kMaxPictureSide = formats::kPicMaxDimension;
constexpr int kMaxWadTextureSide = static_cast<int>(formats::kMiptexMaxDimension);
constexpr int kMaxWalSide = 65535;
constexpr int kTextureStep = 8;
// Lump positions and sizes are signed 32-bit fields.
constexpr int64_t kMaxWadSize = INT32_MAX;

// A failure that ends the run: the message names the file and the reason.
using about::Fatal;

struct Limits {
  int max_side;
  bool texture;     // sides must be multiples of 8
  size_t max_name;  // longest stored name
};

// How an image is laid out in the file written.
enum class Layout { kPicture, kWal, kMiptex };

// One image read, mapped and laid out; or why it is skipped.
struct Prepared {
  std::string skip;  // empty: ready to be written
  std::string name;  // the name stored inside the file
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bytes;  // the whole file (lmp, wal) or the lump (wad)
};

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file name less its extension, as it is: "textures/.pcx", which
// texsnap writes for a file named ".wal", gives back the empty name.
std::string Stem(const std::string& path) {
  const std::string base = BaseName(path);
  return base.substr(0, base.rfind('.'));
}

// The name stored inside a file: the converters write a '*' as '~'.
std::string StoredName(std::string stem) {
  std::replace(stem.begin(), stem.end(), '~', '*');
  return stem;
}

std::string Size(int width, int height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

// Reads, maps and lays out one image. Safe on any thread: it prints
// nothing, and `map` is the calling worker's own.
Prepared Prepare(const std::string& path, const Limits& limits, Layout layout, bool dither,
                 ColourMap& map) {
  Prepared done;
  done.name = StoredName(Stem(path));
  if (done.name.size() > limits.max_name) {
    done.skip = "the name '" + done.name + "' is longer than " + std::to_string(limits.max_name) +
                " characters";
    return done;
  }
  try {
    MappedImage image;
    if (!ReadImageFile(path, limits.max_side, map, dither, &image, &done.skip)) return done;
    if (limits.texture && (image.width % kTextureStep != 0 || image.height % kTextureStep != 0)) {
      done.skip =
          "a texture's sides must be multiples of 8, not " + Size(image.width, image.height);
      return done;
    }
    std::vector<uint8_t> indices = std::move(image.indices);
    done.width = image.width;
    done.height = image.height;
    // The whole output taken at once: grown as it is filled, it would be
    // copied, and stand in memory twice for a moment. A texture's sides are
    // multiples of 8, so its smaller levels take exactly a quarter, a
    // sixteenth and a 64th of the full-size image; its header is a WAL's
    // 100 bytes at most.
    const size_t pixels = indices.size();
    done.bytes.reserve(layout == Layout::kPicture ? formats::kPicHeaderSize + pixels
                                                  : formats::kWalHeaderSize + pixels + pixels / 4 +
                                                        pixels / 16 + pixels / 64);
    bool fits = true;
    switch (layout) {
      case Layout::kPicture:
        formats::AppendPicture(indices.data(), done.width, done.height, &done.bytes);
        return done;
      case Layout::kWal:
        fits = formats::AppendWalHeader(done.name, done.width, done.height, &done.bytes);
        break;
      case Layout::kMiptex:
        fits = formats::AppendMiptexHeader(done.name, done.width, done.height, &done.bytes);
        break;
    }
    if (!fits) {
      done.skip = "too large for a texture's 32-bit level offsets";
      return done;
    }
    const size_t full = done.bytes.size();
    done.bytes.insert(done.bytes.end(), indices.begin(), indices.end());
    indices = std::vector<uint8_t>();
    // The levels are made from the full-size image where it now stands: the
    // room reserved above keeps it in place as they are appended.
    AppendMipLevels(done.bytes.data() + full, done.width, done.height, map, &done.bytes);
  } catch (const std::bad_alloc&) {
    done.skip = "not enough memory for the image";
    done.bytes = {};
  }
  return done;
}

class Run {
 public:
  Run(const Options& options, std::vector<ColourMap>& maps, std::FILE* out, std::FILE* err)
      : options_(options), maps_(maps), out_(out), err_(err) {}

  int status() const { return skipped_ ? kExitSkipped : kExitOk; }
  const Options& options() const { return options_; }

  // Messages on standard error come after the lines written before them,
  // also when both go into one log.
  void Skip(const std::string& path, const std::string& reason) {
    host::FlushConsole(out_);
    std::fprintf(err_, "snapback: %s: skipped: %s\n", path.c_str(), reason.c_str());
    skipped_ = true;
  }
  void Note(const std::string& path, const std::string& what) {
    host::FlushConsole(out_);
    std::fprintf(err_, "snapback: %s: %s\n", path.c_str(), what.c_str());
  }
  void Wrote(const std::string& line) {
    if (!options_.quiet) std::fprintf(out_, "%s\n", line.c_str());
    ShowProgress();
  }
  // Pushes out the lines printed so far at least every quarter of a second
  // while the run is busy, so a pipe or a log sees them before the end.
  void ShowProgress() {
    if (pacer_.Due()) host::FlushConsole(out_);
  }

  // The files this run reads: none of them is ever written.
  bool IsInput(const host::FileId& id) const { return inputs_.count(id) != 0; }
  void AddInput(const std::string& path) {
    host::FileId id;
    if (host::IdentifyFile(path, &id)) inputs_.insert(id);
  }

  // Every image prepared ahead on the workers, taken in the order given.
  OrderedWork<Prepared> PrepareAll(const Limits& limits, Layout layout) {
    const std::vector<std::string>& images = options_.images;
    return OrderedWork<Prepared>(
        images.size(), maps_.size(), [this, &images, limits, layout](size_t job, size_t worker) {
          return Prepare(images[job], limits, layout, options_.dither, maps_[worker]);
        });
  }

 private:
  const Options& options_;
  std::vector<ColourMap>& maps_;
  std::FILE* out_;
  std::FILE* err_;
  host::FlushPacer pacer_;
  std::set<host::FileId> inputs_;
  bool skipped_ = false;
};

std::string OutputPath(const Options& options, const std::string& image, const char* extension) {
  std::string dir = options.output_dir.empty() ? host::HostDirName(image) : options.output_dir;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + Stem(image) + extension;
}

// Creates every missing level of `dir`.
void MakeDirectories(const std::string& dir) {
  for (size_t at = dir.find('/', 1);; at = dir.find('/', at + 1)) {
    const std::string level = dir.substr(0, at);
    if (!host::IsDirectory(level) && !host::MakeDirectory(level)) {
      const int error = errno;
      // Made by another run meanwhile is as good; otherwise mkdir's reason,
      // not the look that followed it, says what is wrong.
      if (!host::IsDirectory(level)) {
        errno = error;
        throw Fatal{level + ": cannot create the folder: " + SystemReason()};
      }
    }
    if (at == std::string::npos) return;
  }
}

// lmp and wal: one file per image, beside it or in the -o folder. Outputs
// are told apart by the file they lead to, not by their spelling: an output
// that is an input of the run, or a file this run wrote already, is skipped.
void ConvertEach(Run& run) {
  const bool wal = run.options().command == Command::kWal;
  const Limits limits = wal ? Limits{kMaxWalSide, true, formats::kMaxWalName}
                            : Limits{kMaxPictureSide, false, SIZE_MAX};
  std::map<host::FileId, std::string> written;  // the image each file was written from
  OrderedWork<Prepared> prepared = run.PrepareAll(limits, wal ? Layout::kWal : Layout::kPicture);
  for (const std::string& path : run.options().images) {
    run.ShowProgress();
    const Prepared image = prepared.TakeNext();
    const std::string target = OutputPath(run.options(), path, wal ? ".wal" : ".lmp");
    host::FileId id;
    const bool exists = host::IdentifyFile(target, &id);
    if (exists && written.count(id) != 0) {
      run.Skip(path, target + " was written already by this run, from " + written[id]);
      continue;
    }
    if (exists && run.IsInput(id)) {
      run.Skip(path, target + " is an input of this run");
      continue;
    }
    if (!image.skip.empty()) {
      run.Skip(path, image.skip);
      continue;
    }
    OutputFile file;
    if (!file.Create(target)) {
      run.Skip(path, target + ": cannot create: " + SystemReason());
      continue;
    }
    file.writer().Write(image.bytes.data(), image.bytes.size());
    if (!file.Finish()) throw Fatal{target + ": cannot write: " + SystemReason()};
    if (!file.PutInPlace()) {
      run.Skip(path, target + ": cannot create: " + SystemReason());
      continue;
    }
    if (host::IdentifyFile(target, &id)) written[id] = path;
    run.Wrote(path + " -> " + target + " (" + Size(image.width, image.height) + ")");
  }
}

// OUT.wad is written over only when it is a WAD2 file and none of the
// run's inputs: forgetting OUT.wad on the command line (`snapback wad
// *.png`) must not turn the first image into a WAD2 file.
void CheckWadTarget(const Run& run, const std::string& target) {
  host::FileId id;
  if (!host::IdentifyFile(target, &id)) return;  // a new file
  for (const std::string& image : run.options().images) {
    host::FileId image_id;
    if (host::IdentifyFile(image, &image_id) && image_id == id) {
      throw Fatal{target + ": is the image " + image + " itself; nothing written"};
    }
  }
  if (run.IsInput(id)) throw Fatal{target + ": is the palette; nothing written"};
  host::File file;
  uint8_t magic[4] = {};
  if (!file.Open(target, host::File::Mode::kRead)) {
    throw Fatal{target + ": cannot read what stands there: " + SystemReason() +
                "; nothing written"};
  }
  if (!file.ReadExactAt(0, magic, sizeof magic) ||
      !std::equal(formats::kWadMagic.begin(), formats::kWadMagic.end(), magic)) {
    throw Fatal{target + ": exists and is no WAD2 file; nothing written"};
  }
}

// wad: the lumps go out one by one, in order, behind a header filled in
// last, so memory holds only the images in preparation (two per worker);
// the directory follows the last lump.
void ConvertToWad(Run& run) {
  const Options& options = run.options();
  const std::string& target = options.wad_path;
  const Limits limits = options.pictures ? Limits{kMaxPictureSide, false, formats::kMaxLumpName}
                                         : Limits{kMaxWadTextureSide, true, formats::kMaxLumpName};
  CheckWadTarget(run, target);
  OutputFile file;
  if (!file.Create(target)) throw Fatal{target + ": cannot create: " + SystemReason()};
  // Zeros until the directory's place is known.
  std::array<uint8_t, formats::kWadInfoSize> header{};
  file.writer().Write(header.data(), header.size());

  std::vector<uint8_t> directory;
  std::set<std::string> names;  // lowered: lookups in a WAD2 ignore case
  int64_t position = formats::kWadInfoSize;
  OrderedWork<Prepared> prepared =
      run.PrepareAll(limits, options.pictures ? Layout::kPicture : Layout::kMiptex);
  for (const std::string& path : options.images) {
    run.ShowProgress();
    const Prepared image = prepared.TakeNext();
    if (!image.skip.empty()) {
      run.Skip(path, image.skip);
      continue;
    }
    if (!names.insert(about::AsciiLower(image.name)).second) {
      run.Skip(path, "the lump name '" + image.name + "' is taken already");
      continue;
    }
    const auto size = static_cast<int64_t>(image.bytes.size());
    const auto directory_size = static_cast<int64_t>(directory.size() + formats::kLumpInfoSize);
    if (position + size + directory_size > kMaxWadSize) {
      names.erase(about::AsciiLower(image.name));
      run.Skip(path, target + " would grow beyond 2 GiB");
      continue;
    }
    file.writer().Write(image.bytes.data(), image.bytes.size());
    formats::AppendLumpInfo(
        static_cast<uint32_t>(position), static_cast<uint32_t>(size),
        options.pictures ? formats::kLumpTypePicture : formats::kLumpTypeTexture, image.name,
        &directory);
    position += size;
    run.Wrote(path + " -> " + target + ": " + image.name + " (" + Size(image.width, image.height) +
              ")");
  }
  if (directory.empty()) {
    // An existing file of that name is better kept than emptied.
    run.Note(target, "not written: no image to store");
    return;
  }
  file.writer().Write(directory.data(), directory.size());
  header = formats::WadInfoBytes(static_cast<uint32_t>(directory.size() / formats::kLumpInfoSize),
                                 static_cast<uint32_t>(position));
  if (!file.PatchAt(0, header.data(), header.size()) || !file.Finish()) {
    throw Fatal{target + ": cannot write: " + SystemReason()};
  }
  if (!file.PutInPlace()) throw Fatal{target + ": cannot create: " + SystemReason()};
}

std::vector<uint8_t> LoadPalette(const std::string& path) {
  std::vector<uint8_t> palette;
  if (!host::ReadWholeFile(path, &palette)) {
    throw Fatal{path + ": cannot read the palette: " + SystemReason()};
  }
  if (palette.size() < kPaletteSize) {
    throw Fatal{path + ": a palette has 768 bytes, this file " + std::to_string(palette.size())};
  }
  return palette;
}

}  // namespace

int RunSnapback(int argc, char** argv, std::FILE* out, std::FILE* err) {
  Options options;
  try {
    if (ParseCommandLine(argc, argv, out, &options) == Parsed::kAnswered) return kExitOk;
  } catch (const UsageError& e) {
    std::fprintf(err, "snapback: %s\nTry 'snapback --help'.\n", e.what());
    return kExitFatal;
  }
  try {
    const std::vector<uint8_t> palette = LoadPalette(options.palette_path);
    std::vector<ColourMap> maps(WorkerCount(options.images.size()),
                                ColourMap(palette.data(), options.fullbright));
    Run run(options, maps, out, err);
    run.AddInput(options.palette_path);
    for (const std::string& image : options.images) run.AddInput(image);
    if (!options.output_dir.empty()) MakeDirectories(options.output_dir);
    if (options.command == Command::kWad) {
      ConvertToWad(run);
    } else {
      ConvertEach(run);
    }
    return run.status();
  } catch (const Fatal& fatal) {
    std::fprintf(err, "snapback: %s\n", fatal.what());
  } catch (const std::bad_alloc&) {
    std::fprintf(err, "snapback: not enough memory\n");
  } catch (const std::exception& e) {
    std::fprintf(err, "snapback: internal error: %s\n", e.what());
  }
  return kExitFatal;
}

}  // namespace snapback
