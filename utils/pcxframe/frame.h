// The frame every converter runs in: banner, palette, the PCX writer and
// the one fatal path. Deep code reports a fatal error by throwing
// FatalError (through `error` or `test`); RunConverter catches it once,
// prints the message and the closing screen and returns kExitFatal, so
// destructors close every file on the way out.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/file.h"

#include "pcxframe/pcx_format.h"
#include "pcxframe/tool_settings.h"

namespace pcxframe {

inline constexpr std::string_view kEditionNotice = "(Linux edition 1.0)";
inline constexpr std::string_view kPaletteFileName = "palette.lmp";
inline constexpr std::string_view kPaletteMissing = "Could not open 'palette.lmp' !";
inline constexpr std::string_view kReadWriteError = "Fatal Read/Write error !\n";
inline constexpr std::string_view kOutOfMemory = "Not enough memory !\n";

class FatalError : public std::runtime_error {
 public:
  explicit FatalError(std::string_view message)
      : std::runtime_error(std::string(message)) {}
};

// Ends the run with `message`. Never returns.
[[noreturn]] void error(std::string_view message);

// The I/O check: a count obtained that differs from the count expected ends
// the run with kReadWriteError.
void test(int64_t actual, int64_t expected);

// Prints the closing screen of a run that ended on an error.
void end_screen(const ToolSettings& settings, std::ostream& out);

using Palette = std::array<uint8_t, pcx::kPaletteSize>;

// Hands savePCX an image's rows, top row first: row r is asked for after
// row r - 1, and the pointer returned stays valid until the next call.
using RowSource = std::function<const uint8_t*(int row)>;

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

// The rows of a width x height image that starts `offset` bytes into
// `region`, read a block of rows at a time; a failed read is fatal.
// REQUIRES: the image lies inside the region.
RowSource RegionRows(const Region& region, int64_t offset, int width, int height);

class Frame {
 public:
  Frame(const ToolSettings& settings, std::ostream& out);

  std::ostream& out() { return out_; }
  const ToolSettings& settings() const { return settings_; }
  const Palette& palette() const { return palette_; }

  void PrintBanner();
  // Ends the run with the tool's message when argv holds no argument.
  void CheckArgument(int argc);
  // Loads the first 768 bytes of the palette file (palette.lmp in the
  // working directory unless told otherwise).
  void LoadPalette(const std::string& path = std::string(kPaletteFileName));

  // Writes a width x height image (rows of exactly `width` bytes) with the
  // palette as the PCX file `filename`, after mapping '*' to '~' in it when
  // the tool does so. A file that cannot be created is reported, remembered
  // for the exit status, and false is returned; every other I/O failure is
  // fatal. REQUIRES: 1 <= width, height <= pcx::kMaxDimension.
  bool savePCX(int width, int height, const uint8_t* data, std::string& filename);
  // The same with the rows taken from `rows`.
  bool savePCX(int width, int height, const RowSource& rows, std::string& filename);

  // False once some PCX file could not be created.
  bool all_written() const { return all_written_; }

 private:
  const ToolSettings& settings_;
  std::ostream& out_;
  Palette palette_{};
  bool all_written_ = true;
};

// Runs one converter: banner, argument check (argc counts the program
// name), palette, then `body`. Fatal errors (and allocation failures) end in
// the closing screen and kExitFatal; a normal end gives kExitOk or
// kExitPcxNotCreated. The output is flushed before returning.
int RunConverter(const ToolSettings& settings, int argc, std::ostream& out,
                 const std::function<void(Frame&)>& body);

}  // namespace pcxframe
