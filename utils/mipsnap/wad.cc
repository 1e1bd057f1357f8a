#include "mipsnap/wad.h"

#include "formats/miptex.h"
#include "host/byteorder.h"
#include "pcxframe/frame.h"

namespace mipsnap {

namespace {

constexpr std::string_view kCannotOpenWad = "Could not open WAD....";
constexpr std::string_view kNotAWad = "Specified file isn't a valid WAD-File !";

}  // namespace

void InitWad(const std::string& path, Wad* wad) {
  if (!wad->wad.Open(path, host::File::Mode::kRead)) pcxframe::error(kCannotOpenWad);
  wad->file_size = wad->wad.Size();
  uint8_t header[formats::kWadInfoSize];
  pcxframe::test(wad->wad.ReadExactAt(0, header, sizeof header));
  wad->wadinfo = *formats::ReadWadInfo(header, sizeof header);
  if (!wad->wadinfo.magic_ok()) pcxframe::error(kNotAWad);

  const int64_t count = wad->wadinfo.lump_count;
  if (count == 0) return;  // an empty directory reads fine wherever it points
  const int64_t dir_bytes = count * static_cast<int64_t>(formats::kLumpInfoSize);
  // A directory that does not lie inside the file cannot be read in full.
  const bool fits =
      count > 0 && host::RangeInside(wad->wadinfo.dir_offset, dir_bytes, wad->file_size);
  pcxframe::test(fits);
  std::vector<uint8_t> dir(static_cast<size_t>(dir_bytes));
  pcxframe::test(wad->wad.ReadExactAt(wad->wadinfo.dir_offset, dir.data(), dir.size()));
  wad->lumpinfo = formats::ReadLumpInfos(dir.data(), dir.size());
}

pcxframe::Region ReadLump(const Wad& wad, const lumpinfo_t& lump) {
  pcxframe::test(lump.disk_size > 0 &&
                 host::RangeInside(lump.file_pos, lump.disk_size, wad.file_size));
  // The texture rule reads the most: its 28-byte header.
  return pcxframe::ReadRegion(wad.wad, lump.file_pos, lump.disk_size, formats::kMiptexReadSize);
}

}  // namespace mipsnap
