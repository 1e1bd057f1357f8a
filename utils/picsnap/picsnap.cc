#include "picsnap/picsnap.h"

#include "formats/pic.h"
#include "host/file.h"

namespace picsnap {

namespace {

// A failure to create a PCX file ends the open progress line.
const pcxframe::ToolSettings kSettings = {
    "PICSNAP Converter Utility",
    "PICSNAP",
    "No LUMP (.lmp) file specified !\n",
    " !! Could not create PCX file !",
    false,
    "picsnap",
    "Usage: picsnap NAME [-png]\n"
    "Writes the picture lump NAME.lmp as NAME.pcx (NAME.png with -png) beside it,\n"
    "coloured with palette.lmp.\n"
    "Exit status: 0 all done, 2 the image could not be written, 1 fatal error.\n"
    "See picsnap(1).\n",
};

constexpr std::string_view kCannotOpen = "Could not open file !\n";
constexpr std::string_view kNotALump = "Not a valid LUMP file !\n";

}  // namespace

bool single_convert_pic(pcxframe::Frame& frame, const pcxframe::Region& pic,
                        const std::string& name) {
  std::string output_name = name + std::string(frame.extension());
  const std::optional<formats::pic_t> p =
      formats::ReadPicHeader(pic.head.data(), pic.head.size(), pic.size);
  if (!p) return false;
  frame.out() << ", picture: width " << p->width << ", height " << p->height;
  frame.savePCX(p->width, p->height,
                pcxframe::RegionRows(pic, formats::kPicHeaderSize, p->width, p->height),
                output_name, name + ".lmp");
  return true;
}

void LetUsRock(pcxframe::Frame& frame, const std::string& name) {
  host::File file;
  if (!file.Open(name + ".lmp", host::File::Mode::kRead)) pcxframe::error(kCannotOpen);
  frame.AddInput(name + ".lmp");
  const int64_t size = file.Size();
  // An empty file is a failed read of the one block the lump should be.
  pcxframe::test(size > 0);
  const pcxframe::Region lump = pcxframe::ReadRegion(file, 0, size, formats::kPicHeaderSize);
  if (!single_convert_pic(frame, lump, name)) pcxframe::error(kNotALump);
}

int RunPicsnap(int argc, const char* const* argv, std::ostream& out, bool interactive) {
  return pcxframe::RunConverter(kSettings, argc, argv, out, interactive,
                                [](pcxframe::Frame& frame, const pcxframe::ConverterArgs& args) {
                                  LetUsRock(frame, args.argv[1]);
                                });
}

}  // namespace picsnap
