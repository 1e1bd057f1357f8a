// The frame every converter runs in: banner, palette, the PCX writer and
// the one fatal path. Deep code reports a fatal error by throwing
// Fatal (through `error` or `test`); RunConverter catches it once,
// prints the message and the closing screen and returns kExitFatal, so
// destructors close every file on the way out.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "about/about.h"
#include "about/fatal.h"
#include "host/file.h"
#include "host/process.h"
#include "pcx/pcx_format.h"
#include "pcxframe/tool_settings.h"

namespace pcxframe {

inline constexpr std::string_view kPaletteFileName = "palette.lmp";
inline constexpr std::string_view kPaletteMissing = "Could not open 'palette.lmp' !";
inline constexpr std::string_view kReadWriteError = about::kReadWriteError;
inline constexpr std::string_view kOutOfMemory = "Not enough memory !\n";

using about::Fatal;

// Ends the run with `message`. Never returns.
[[noreturn]] void error(std::string_view message);

// The I/O check (see about/fatal.h).
using about::test;

// Prints the closing screen of a run that ended on an error.
void end_screen(const ToolSettings& settings, std::ostream& out);

using Palette = std::array<uint8_t, pcx::kPaletteSize>;

// Images are read, and their progress shown, a block of rows of about this
// many bytes (one row at least) at a time.
inline constexpr int64_t kRowBlockBytes = int64_t{1} << 20;

// Hands savePCX an image's rows, top row first: row r is asked for after
// row r - 1, and the pointer returned stays valid until the next call.
using RowSource = std::function<const uint8_t*(int row)>;

// The number of rows of a `width`-byte image in a block of kRowBlockBytes.
int RowsPerBlock(int width);

// A stretch of an open file that holds one picture or texture. Its first
// bytes are in memory for the format's rules; the pixels are read from the
// file while they are written out, so memory does not grow with the image.
struct Region {
  const host::File* file = nullptr;
  int64_t start = 0;          // where the stretch begins in the file
  int64_t size = 0;           // its length
  std::vector<uint8_t> head;  // its first bytes
};

// Reads the first min(size, head_bytes) bytes of the stretch; a failed read
// is fatal.
Region ReadRegion(const host::File& file, int64_t start, int64_t size, size_t head_bytes);

// The RowSource of a width x height image that starts `offset` bytes into
// `region`: its rows are read from the file a block at a time, into a
// buffer of one block; a failed read is fatal.
// REQUIRES: the image lies inside the region; the region's file outlives this.
class RegionRows {
 public:
  RegionRows(const Region& region, int64_t offset, int width, int height);
  const uint8_t* operator()(int row);

 private:
  const host::File* file_;
  int64_t image_start_;  // in the file
  int64_t row_bytes_;
  int height_;
  int rows_per_block_;
  int first_row_ = -1;  // of the block in `block_`; -1 before the first read
  std::vector<uint8_t> block_;
};

class Frame {
 public:
  // `interactive`: `out` is a terminal, where progress is shown at once.
  Frame(const ToolSettings& settings, std::ostream& out, bool interactive = false);

  std::ostream& out() { return out_; }
  const ToolSettings& settings() const { return settings_; }
  const Palette& palette() const { return palette_; }

  // With -png the images are written as PNG files (8-bit indexed, the
  // whole palette) instead of PCX, under the same names but for the
  // extension.
  void set_png(bool png) { png_ = png; }
  bool png() const { return png_; }
  // The extension of the image files written: ".pcx" or ".png".
  std::string_view extension() const { return png_ ? ".png" : ".pcx"; }

  void PrintBanner();
  // Ends the run with the tool's message when argv holds no argument.
  void CheckArgument(int argc);
  // Loads the first 768 bytes of the palette file (palette.lmp in the
  // working directory unless told otherwise).
  void LoadPalette(const std::string& path = std::string(kPaletteFileName));

  // Pushes out the progress text printed so far: at once on a terminal,
  // else at least every quarter of a second while the run is busy (so a
  // log shows it and a killed run leaves it), yet thousands of images cost
  // only a handful of writes. Called once per image and per block of rows.
  void ShowProgress();

  // Prints `message`, why something asked for is skipped; the run then ends
  // with kExitSkipped.
  void Skip(std::string_view message);
  int skipped() const { return skipped_; }

  // A file the run reads (the palette is one): no image is ever written
  // over it, by whatever name.
  void AddInput(const std::string& path);

  // Writes a width x height image (rows of exactly `width` bytes) with the
  // palette as the PCX (or PNG) file `filename`, after mapping '*' to '~' in it when
  // the tool does so. A file that cannot be created (a FIFO or a device
  // under that name included) is reported as skipped and false is
  // returned; every other I/O failure is fatal, and so is a size outside
  // 1..pcx::kMaxDimension, which no tool asks for. Names are told apart by
  // the file they lead to: a file that is an input of the run, or that the
  // run wrote already (for `source`, the name of the image in its input, of
  // this or another spelling) is skipped the same way, never written over.
  bool savePCX(int width, int height, const uint8_t* data, std::string& filename,
               std::string_view source = {});
  // The same with the rows taken from `rows`.
  bool savePCX(int width, int height, const RowSource& rows, std::string& filename,
               std::string_view source = {});

 private:
  const ToolSettings& settings_;
  std::ostream& out_;
  const bool interactive_;
  host::FlushPacer pacer_;
  void WritePcx(host::BufferedWriter& writer, int width, int height, const RowSource& rows);
  void WritePng(host::BufferedWriter& writer, int width, int height, const RowSource& rows);
  // Called every block of rows.
  void RowDone(int row, int rows_per_block);
  // Skips an image with `why`, worded to fit the tool's progress lines as
  // its create-failure message does.
  void SkipImage(const std::string& why);
  // Whether `filename` may be written; skips the image when not.
  bool MayWrite(const std::string& filename, std::string_view source);

  std::set<host::FileId> inputs_;
  std::map<host::FileId, std::string> written_;  // the image each file holds

  Palette palette_{};
  int skipped_ = 0;
  bool png_ = false;
};

// The converters' command lines with the -png switch, which may stand
// anywhere, taken out: `argv` holds the other arguments, program name first.
struct ConverterArgs {
  std::vector<const char*> argv;
  bool png = false;
  int argc() const { return static_cast<int>(argv.size()); }
};

// Runs one converter on its command line: banner, argument check, palette,
// then `body` with the arguments but -png. Fatal errors (and allocation
// failures) end in the closing screen and kExitFatal; a normal end gives
// kExitOk, or kExitSkipped when something was skipped. The output is flushed
// before returning; whether it arrived is the caller's to check. "--help"
// or "--version" is answered instead, with kExitOk.
int RunConverter(const ToolSettings& settings, int argc, const char* const* argv, std::ostream& out,
                 bool interactive, const std::function<void(Frame&, const ConverterArgs&)>& body);

}  // namespace pcxframe
