#include "formats/wad.h"

#include <algorithm>
#include <cstring>

#include "formats/record.h"
#include "host/byteorder.h"

namespace formats {

std::optional<wadinfo_t> ReadWadInfo(const uint8_t* data, size_t size) {
  if (size < kWadInfoSize) return std::nullopt;
  wadinfo_t info;
  std::copy_n(data + kWadMagicOffset, sizeof info.magic, info.magic);
  info.lump_count = host::GetLE32s(data + kWadLumpCountOffset);
  info.dir_offset = host::GetLE32s(data + kWadDirOffsetOffset);
  return info;
}

std::vector<lumpinfo_t> ReadLumpInfos(const uint8_t* data, size_t size) {
  std::vector<lumpinfo_t> lumps(size / kLumpInfoSize);
  for (lumpinfo_t& lump : lumps) {
    lump.file_pos = host::GetLE32s(data + kLumpFilePosOffset);
    lump.disk_size = host::GetLE32(data + kLumpDiskSizeOffset);
    const auto* name = reinterpret_cast<const char*>(data + kLumpNameOffset);
    lump.name.assign(name, strnlen(name, kLumpNameSize));
    data += kLumpInfoSize;
  }
  return lumps;
}

std::array<uint8_t, kWadInfoSize> WadInfoBytes(uint32_t lump_count, uint32_t dir_offset) {
  std::array<uint8_t, kWadInfoSize> info{};
  std::copy(kWadMagic.begin(), kWadMagic.end(), info.begin() + kWadMagicOffset);
  host::PutLE32(info.data() + kWadLumpCountOffset, lump_count);
  host::PutLE32(info.data() + kWadDirOffsetOffset, dir_offset);
  return info;
}

void AppendLumpInfo(uint32_t position, uint32_t size, uint8_t type, const std::string& name,
                    std::vector<uint8_t>* out) {
  uint8_t* p = Grow(out, kLumpInfoSize);
  host::PutLE32(p + kLumpFilePosOffset, position);
  host::PutLE32(p + kLumpDiskSizeOffset, size);
  host::PutLE32(p + kLumpSizeOffset, size);
  p[kLumpTypeOffset] = type;
  p[kLumpCompressionOffset] = 0;
  PutName(p + kLumpNameOffset, name, kLumpNameSize);
}

}  // namespace formats
