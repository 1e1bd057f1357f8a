#include "mipsnap/wad.h"

#include <cstring>

#include "host/byteorder.h"
#include "mipsnap/wad_format.h"
#include "pcxframe/frame.h"

namespace mipsnap {

namespace {

constexpr std::string_view kCannotOpenWad = "Could not open WAD....";
constexpr std::string_view kNotAWad = "Specified file isn't a valid WAD-File !";

lumpinfo_t DecodeLumpInfo(const uint8_t* p) {
  lumpinfo_t lump;
  lump.file_pos = host::GetLE32s(p + kLumpFilePosOffset);
  lump.disk_size = host::GetLE32(p + kLumpDiskSizeOffset);
  const auto* name = reinterpret_cast<const char*>(p + kLumpNameOffset);
  lump.name.assign(name, strnlen(name, kLumpNameSize));
  return lump;
}

}  // namespace

void InitWad(const std::string& path, Wad* wad) {
  if (!wad->wad.Open(path, host::File::Mode::kRead)) pcxframe::error(kCannotOpenWad);
  wad->file_size = wad->wad.Size();
  uint8_t header[kWadInfoSize];
  pcxframe::test(wad->wad.ReadExactAt(0, header, sizeof header));
  std::memcpy(wad->wadinfo.magic, header + kWadMagicOffset, sizeof wad->wadinfo.magic);
  if (std::string_view(wad->wadinfo.magic, sizeof wad->wadinfo.magic) != kWadMagic) {
    pcxframe::error(kNotAWad);
  }
  wad->wadinfo.lump_count = host::GetLE32s(header + kWadLumpCountOffset);
  wad->wadinfo.dir_offset = host::GetLE32s(header + kWadDirOffsetOffset);

  const int64_t count = wad->wadinfo.lump_count;
  if (count == 0) return;  // an empty directory reads fine wherever it points
  const int64_t dir_bytes = count * static_cast<int64_t>(kLumpInfoSize);
  // A directory that does not lie inside the file cannot be read in full.
  const bool fits =
      count > 0 && host::RangeInside(wad->wadinfo.dir_offset, dir_bytes, wad->file_size);
  pcxframe::test(fits);
  std::vector<uint8_t> dir(static_cast<size_t>(dir_bytes));
  pcxframe::test(wad->wad.ReadExactAt(wad->wadinfo.dir_offset, dir.data(), dir.size()));
  wad->lumpinfo.reserve(static_cast<size_t>(count));
  for (size_t i = 0; i < static_cast<size_t>(count); ++i) {
    wad->lumpinfo.push_back(DecodeLumpInfo(dir.data() + i * kLumpInfoSize));
  }
}

pcxframe::Region ReadLump(const Wad& wad, const lumpinfo_t& lump) {
  pcxframe::test(lump.disk_size > 0 &&
                 host::RangeInside(lump.file_pos, lump.disk_size, wad.file_size));
  // The texture rule reads the most: its 28-byte header.
  return pcxframe::ReadRegion(wad.wad, lump.file_pos, lump.disk_size, kMiptexHeaderSize);
}

}  // namespace mipsnap
