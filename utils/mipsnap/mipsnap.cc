#include "mipsnap/mipsnap.h"

#include <algorithm>

#include "formats/miptex.h"
#include "formats/pic.h"

namespace mipsnap {

namespace {

// A failure to create a PCX file ends the open progress line.
const pcxframe::ToolSettings kSettings = {
    "MIPSNAP Converter Utility",
    "MIPSNAP",
    "No WAD file specified !\n",
    " !! Could not create PCX file !",
    true,
    "mipsnap",
    "Usage: mipsnap FILE.wad [PREFIX] [-png]\n"
    "Writes every picture and texture lump of the WAD2 file FILE.wad as\n"
    "PREFIXtextures/<lump>.pcx (.png with -png), coloured with palette.lmp.\n"
    "Exit status: 0 all done, 2 an image could not be written, 1 fatal error.\n"
    "See mipsnap(1).\n",
};

// Lump names come from the file being converted; a '/' in one must not
// steer the output out of the destination directory.
std::string OutputName(const pcxframe::Frame& frame, const std::string& dest_path,
                       const std::string& name) {
  std::string file_name = name;
  std::replace(file_name.begin(), file_name.end(), '/', '_');
  return dest_path + file_name + std::string(frame.extension());
}

// The output goes to PREFIXtextures/, PREFIX the optional second argument.
void ConvertWad(pcxframe::Frame& frame, const pcxframe::ConverterArgs& args) {
  const std::string dest_path =
      std::string(args.argc() > 2 ? args.argv[2] : "") + std::string(kTexturesDir);
  frame.out() << "Converting all textures from '" << args.argv[1] << "' into '" << dest_path << "*"
              << frame.extension() << "':\n";
  Wad wad;
  InitWad(args.argv[1], &wad);
  frame.AddInput(args.argv[1]);
  LetUsRock(frame, wad, dest_path);
}

// Ends the lump's progress line with what it is and its size, and writes
// the image found `offset` bytes into the lump.
void ConvertLump(pcxframe::Frame& frame, const pcxframe::Region& lump, std::string_view what,
                 int64_t offset, int width, int height, const std::string& dest_path,
                 const std::string& name) {
  std::string output_name = OutputName(frame, dest_path, name);
  frame.out() << ", " << what << ": width " << width << ", height " << height;
  frame.savePCX(width, height, pcxframe::RegionRows(lump, offset, width, height), output_name,
                name);
}

}  // namespace

bool single_convert_pic(pcxframe::Frame& frame, const pcxframe::Region& pic,
                        const std::string& dest_path, const std::string& name) {
  const std::optional<formats::pic_t> p =
      formats::ReadPicHeader(pic.head.data(), pic.head.size(), pic.size);
  if (!p) return false;
  ConvertLump(frame, pic, "picture", formats::kPicHeaderSize, p->width, p->height, dest_path, name);
  return true;
}

bool single_convert_mip(pcxframe::Frame& frame, const pcxframe::Region& mip,
                        const std::string& dest_path, const std::string& name) {
  const std::optional<formats::miptex_t> tex =
      formats::ReadMiptexHeader(mip.head.data(), mip.head.size(), mip.size);
  if (!tex) return false;
  ConvertLump(frame, mip, "texture", tex->image_offset, static_cast<int>(tex->width),
              static_cast<int>(tex->height), dest_path, name);
  return true;
}

void LetUsRock(pcxframe::Frame& frame, const Wad& wad, const std::string& dest_path) {
  std::ostream& out = frame.out();
  for (const lumpinfo_t& lump : wad.lumpinfo) {
    // Shown before the read, so a slow or failing lump is visible by name.
    out << "   - " << lump.name << "...";
    frame.ShowProgress();
    const pcxframe::Region data = ReadLump(wad, lump);
    // The picture rule goes first: the directory's lump type is not trusted.
    // A lump that is no image was never asked for: not a skip that the exit
    // status tells.
    if (!single_convert_pic(frame, data, dest_path, lump.name) &&
        !single_convert_mip(frame, data, dest_path, lump.name)) {
      out << ", skipping !";
    }
    out << "\n";
  }
}

int RunMipsnap(int argc, const char* const* argv, std::ostream& out, bool interactive) {
  return pcxframe::RunConverter(kSettings, argc, argv, out, interactive, ConvertWad);
}

}  // namespace mipsnap
