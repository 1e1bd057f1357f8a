#include "texsnap/texsnap.h"

#include "formats/wal.h"
#include "host/dir_search.h"
#include "host/file.h"
#include "pcx/pcx_format.h"

namespace texsnap {

namespace {

// texsnap's progress lines are complete, so a failure to create a PCX
// file is a line of its own.
const pcxframe::ToolSettings kSettings = {
    "TEXSNAP Converter Utility",
    "TEXSNAP",
    "",
    "Could not create PCX file !\n",
    true,
    "texsnap",
    "Usage: texsnap [PREFIX] [-png]\n"
    "Writes every *.wal texture of the working folder as PREFIXtextures/<name>.pcx\n"
    "(.png with -png), coloured with palette.lmp.\n"
    "Exit status: 0 all done, 2 a file was skipped, 1 fatal error.\n"
    "See texsnap(1).\n",
};

constexpr std::string_view kWalPattern = "*.wal";
constexpr size_t kWalExtensionLength = 4;

// Opens a texture file and reads its header; the image is read later, row
// block by row block, while it is written out.
pcxframe::Region ReadTexture(const host::DirEntry& entry, host::File* file) {
  // A file that vanished or cannot be opened is a failed read like a short one.
  pcxframe::test(file->Open(entry.name, host::File::Mode::kRead));
  pcxframe::test(entry.size > 0);
  return pcxframe::ReadRegion(*file, 0, entry.size, formats::kWalReadSize);
}

// The output goes to PREFIXtextures/, PREFIX the optional argument.
void ConvertFolder(pcxframe::Frame& frame, const pcxframe::ConverterArgs& args) {
  const std::string dest_path =
      std::string(args.argc() > 1 ? args.argv[1] : "") + std::string(kTexturesDir);
  frame.out() << "Converting all textures into '" << dest_path << "*" << frame.extension()
              << "':\n";
  LetUsRock(frame, dest_path);
}

}  // namespace

void single_convert_mip(pcxframe::Frame& frame, const pcxframe::Region& mip,
                        const std::string& dest_path, const std::string& name,
                        std::string_view source) {
  std::ostream& out = frame.out();
  std::string output_name = dest_path + name + std::string(frame.extension());
  formats::miptex_s tex;
  // Sizes above the 1024 that WAD2 textures allow are fine; only the 16-bit
  // fields of the PCX header bound them.
  const formats::WalCheck check =
      formats::ReadWalHeader(mip.head.data(), mip.head.size(), mip.size, pcx::kMaxDimension, &tex);
  out << "texture '" << output_name << "': ";
  const std::string size =
      "width " + std::to_string(tex.width) + ", height " + std::to_string(tex.height);
  switch (check) {
    case formats::WalCheck::kShortHeader:
      frame.Skip("file too short for a texture header, skipping !\n");
      return;
    case formats::WalCheck::kBadSize:
      frame.Skip(size + ", size not supported, skipping !\n");
      return;
    case formats::WalCheck::kOutside:
      frame.Skip(size + ", image outside the file, skipping !\n");
      return;
    case formats::WalCheck::kOk:
      break;
  }
  out << size << "\n";
  frame.savePCX(tex.width, tex.height,
                pcxframe::RegionRows(mip, tex.image_offset, tex.width, tex.height), output_name,
                source.empty() ? name + ".wal" : std::string(source));
}

void LetUsRock(pcxframe::Frame& frame, const std::string& dest_path) {
  std::vector<host::DirEntry> found;
  if (!host::SearchDirectory("", kWalPattern, &found)) return;
  for (const host::DirEntry& entry : found) {
    if (!entry.is_dir) frame.AddInput(entry.name);
  }
  for (const host::DirEntry& entry : found) {
    if (entry.is_dir) continue;
    host::File file;
    const pcxframe::Region bytes = ReadTexture(entry, &file);
    const std::string name = entry.name.substr(0, entry.name.size() - kWalExtensionLength);
    single_convert_mip(frame, bytes, dest_path, name, entry.name);
    frame.ShowProgress();
  }
}

int RunTexsnap(int argc, const char* const* argv, std::ostream& out, bool interactive) {
  return pcxframe::RunConverter(kSettings, argc, argv, out, interactive, ConvertFolder);
}

}  // namespace texsnap
