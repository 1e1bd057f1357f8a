#include "pcxframe/frame.h"

#include <algorithm>
#include <new>
#include <vector>

#include "about/about.h"
#include "about/exit_status.h"
#include "host/file.h"
#include "pcx/pcx_writer.h"
#include "pngio/png_io.h"

namespace pcxframe {

namespace {

// Every tool checks its sizes before it writes, so this ends only a run
// that went wrong elsewhere; yet it ends it the one way, closing its files.
constexpr std::string_view kImageSizeOutOfRange = "Image size outside the PCX range !\n";

int ReportFatal(const ToolSettings& settings, std::ostream& out, std::string_view message) {
  out << "\nError: " << message << "\n\n";
  end_screen(settings, out);
  return about::kExitFatal;
}

}  // namespace

void error(std::string_view message) { throw Fatal(message); }

void end_screen(const ToolSettings& settings, std::ostream& out) {
  out << about::ClosingScreen(settings.shown_name);
}

Frame::Frame(const ToolSettings& settings, std::ostream& out, bool interactive)
    : settings_(settings), out_(out), interactive_(interactive) {}

void Frame::ShowProgress() {
  if (interactive_ || pacer_.Due()) out_.flush();
}

void Frame::Skip(std::string_view message) {
  out_ << message;
  ++skipped_;
}

void Frame::PrintBanner() {
  out_ << settings_.banner << ' ' << about::EditionNotice(host::SystemName()) << "\n\n";
}

void Frame::CheckArgument(int argc) {
  if (!settings_.no_argument.empty() && argc < 2) error(settings_.no_argument);
}

void Frame::LoadPalette(const std::string& path) {
  host::File file;
  if (!file.Open(path, host::File::Mode::kRead)) {
    error(kPaletteMissing);
  }
  AddInput(path);
  test(file.ReadExactAt(0, palette_.data(), palette_.size()));
}

void Frame::AddInput(const std::string& path) {
  host::FileId id;
  if (host::IdentifyFile(path, &id)) inputs_.insert(id);
}

void Frame::SkipImage(const std::string& why) {
  // texsnap's messages are lines of their own, the others end a progress line.
  const bool own_line =
      !settings_.create_failure.empty() && settings_.create_failure.back() == '\n';
  Skip(own_line ? why + "\n" : " !! " + why);
}

bool Frame::MayWrite(const std::string& filename, std::string_view source) {
  host::FileId id;
  if (!host::IdentifyFile(filename, &id)) return true;  // a new file
  const auto first = written_.find(id);
  if (first != written_.end()) {
    SkipImage("'" + std::string(source) + "' gives " + filename + ", written for '" +
              first->second + "' already, skipping !");
    return false;
  }
  if (inputs_.count(id) != 0) {
    SkipImage(filename + " is an input of this run, skipping !");
    return false;
  }
  return true;
}

bool Frame::savePCX(int width, int height, const uint8_t* data, std::string& filename,
                    std::string_view source) {
  const auto row_bytes = static_cast<size_t>(width);
  return savePCX(
      width, height, [&](int row) { return data + static_cast<size_t>(row) * row_bytes; }, filename,
      source);
}

bool Frame::savePCX(int width, int height, const RowSource& rows, std::string& filename,
                    std::string_view source) {
  if (width < 1 || height < 1 || width > pcx::kMaxDimension || height > pcx::kMaxDimension) {
    error(kImageSizeOutOfRange);
  }
  if (settings_.star_to_tilde) std::replace(filename.begin(), filename.end(), '*', '~');
  ShowProgress();  // the image's line, before its rows take their time

  // A lump name this system's files cannot take is never opened as given
  // (on Windows a ':' would reach an alternate data stream, "con" the console).
  const std::string why = host::UnusableName(filename.substr(filename.find_last_of("/\\") + 1));
  if (!why.empty()) {
    Skip(" !! cannot write '" + filename + "': " + why + " !\n");
    return false;
  }
  if (!MayWrite(filename, source)) return false;
  host::File file;
  if (!file.Open(filename, host::File::Mode::kCreateTruncate)) {
    Skip(settings_.create_failure);
    return false;
  }
  host::FileId id;
  if (file.Identity(&id.device, &id.inode)) written_[id] = source.empty() ? filename : source;
  host::BufferedWriter writer(&file);
  if (png_) {
    WritePng(writer, width, height, rows);
  } else {
    WritePcx(writer, width, height, rows);
  }
  test(writer.Flush());
  test(file.Close());
  return true;
}

void Frame::RowDone(int row, int rows_per_block) {
  if (row > 0 && row % rows_per_block == 0) ShowProgress();
}

int RowsPerBlock(int width) {
  return static_cast<int>(std::max<int64_t>(1, kRowBlockBytes / static_cast<int64_t>(width)));
}

void Frame::WritePcx(host::BufferedWriter& writer, int width, int height, const RowSource& rows) {
  uint8_t header[pcx::kHeaderSize];
  pcx::BuildPcxHeader(header, width, height);
  writer.Write(header, sizeof header);
  test(writer.ok());

  const int rows_per_block = RowsPerBlock(width);
  std::vector<uint8_t> line;
  line.reserve(2 * static_cast<size_t>(width));
  for (int row = 0; row < height; ++row) {
    RowDone(row, rows_per_block);
    line.clear();
    pcx::pcxWriteLine(&line, rows(row), width);
    writer.Write(line.data(), line.size());
  }
  writer.Put(pcx::kPaletteMarker);
  test(writer.ok());
  writer.Write(palette_.data(), palette_.size());
}

void Frame::WritePng(host::BufferedWriter& writer, int width, int height, const RowSource& rows) {
  pngio::IndexedPngWriter png;
  const pngio::Sink sink = [&writer](const uint8_t* data, size_t n) {
    writer.Write(data, n);
    return writer.ok();
  };
  test(png.Begin(width, height, palette_.data(), sink));
  const int rows_per_block = RowsPerBlock(width);
  for (int row = 0; row < height; ++row) {
    RowDone(row, rows_per_block);
    test(png.Row(rows(row)));
  }
}

namespace {

// The -png switch may stand anywhere.
ConverterArgs TakePngSwitch(int argc, const char* const* argv) {
  ConverterArgs args;
  for (int i = 0; i < argc; ++i) {
    if (i > 0 && std::string_view(argv[i]) == "-png") {
      args.png = true;
    } else {
      args.argv.push_back(argv[i]);
    }
  }
  return args;
}

}  // namespace

Region ReadRegion(const host::File& file, int64_t start, int64_t size, size_t head_bytes) {
  Region region;
  region.file = &file;
  region.start = start;
  region.size = size;
  region.head.resize(
      static_cast<size_t>(std::min<int64_t>(size, static_cast<int64_t>(head_bytes))));
  test(file.ReadExactAt(start, region.head.data(), region.head.size()));
  return region;
}

RegionRows::RegionRows(const Region& region, int64_t offset, int width, int height)
    : file_(region.file),
      image_start_(region.start + offset),
      row_bytes_(width),
      height_(height),
      rows_per_block_(RowsPerBlock(width)),
      block_(static_cast<size_t>(std::min(rows_per_block_, height) * row_bytes_)) {}

const uint8_t* RegionRows::operator()(int row) {
  if (first_row_ < 0 || row >= first_row_ + rows_per_block_) {
    first_row_ = row;
    const int64_t rows = std::min(rows_per_block_, height_ - row);
    test(file_->ReadExactAt(image_start_ + row * row_bytes_, block_.data(),
                            static_cast<size_t>(rows * row_bytes_)));
  }
  return block_.data() + (row - first_row_) * row_bytes_;
}

int RunConverter(const ToolSettings& settings, int argc, const char* const* argv, std::ostream& out,
                 bool interactive, const std::function<void(Frame&, const ConverterArgs&)>& body) {
  const ConverterArgs args = TakePngSwitch(argc, argv);
  if (const auto answer = about::AnswerLongQuery(argc, argv, settings.name, settings.help)) {
    out << *answer;
    out.flush();
    return about::kExitOk;
  }
  int status = about::kExitOk;
  try {
    Frame frame(settings, out, interactive);
    frame.set_png(args.png);
    frame.PrintBanner();
    frame.CheckArgument(args.argc());
    frame.LoadPalette();
    body(frame, args);
    status = frame.skipped() > 0 ? about::kExitSkipped : about::kExitOk;
  } catch (const Fatal& e) {
    status = ReportFatal(settings, out, e.what());
  } catch (const std::bad_alloc&) {
    status = ReportFatal(settings, out, kOutOfMemory);
  }
  out.flush();
  return status;
}

}  // namespace pcxframe
