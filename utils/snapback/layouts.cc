#include "snapback/layouts.h"

#include <algorithm>

#include "host/byteorder.h"

namespace snapback {

namespace {

uint8_t* Grow(std::vector<uint8_t>* out, size_t n) {
  const size_t at = out->size();
  out->resize(at + n, 0);
  return out->data() + at;
}

// The name, cut to `size` bytes; the rest stays zero.
void PutName(uint8_t* p, const std::string& name, size_t size) {
  std::copy_n(name.begin(), std::min(name.size(), size), p);
}

// The four level offsets, from `first` (where the full-size image starts),
// counted wide: false, writing none, when the last does not fit 32 bits.
bool PutLevelOffsets(uint8_t* p, uint64_t first, int width, int height) {
  const uint64_t last = first + MipTotal(width, height) -
                        static_cast<uint64_t>(width >> (kMipLevels - 1)) *
                            static_cast<uint64_t>(height >> (kMipLevels - 1));
  if (last > UINT32_MAX) return false;
  uint64_t at = first;
  for (int k = 0; k < kMipLevels; ++k) {
    host::PutLE32(p + 4 * k, static_cast<uint32_t>(at));
    at += static_cast<uint64_t>(width >> k) * static_cast<uint64_t>(height >> k);
  }
  return true;
}

// Where a texture header keeps its fields; the four levels follow it.
struct TextureHeader {
  size_t size;
  size_t name_size;
  size_t width_offset;
  size_t height_offset;
  size_t offsets_offset;
};

bool AppendTextureHeader(const TextureHeader& at, const std::string& name, int width, int height,
                         std::vector<uint8_t>* out) {
  uint8_t* p = Grow(out, at.size);
  PutName(p, name, at.name_size);
  host::PutLE32s(p + at.width_offset, width);
  host::PutLE32s(p + at.height_offset, height);
  if (PutLevelOffsets(p + at.offsets_offset, at.size, width, height)) return true;
  out->resize(out->size() - at.size);
  return false;
}

}  // namespace

size_t MipTotal(int width, int height) {
  size_t total = 0;
  for (int k = 0; k < kMipLevels; ++k) {
    total += static_cast<size_t>(width >> k) * static_cast<size_t>(height >> k);
  }
  return total;
}

void AppendPicture(const uint8_t* pixels, int width, int height, std::vector<uint8_t>* out) {
  uint8_t* p = Grow(out, picsnap::kPicHeaderSize);
  host::PutLE32s(p + picsnap::kPicWidthOffset, width);
  host::PutLE32s(p + picsnap::kPicHeightOffset, height);
  out->insert(out->end(), pixels, pixels + static_cast<size_t>(width) * height);
}

bool AppendWalHeader(const std::string& name, int width, int height, std::vector<uint8_t>* out) {
  return AppendTextureHeader({kWalHeaderSize, kWalNameSize, texsnap::kWalWidthOffset,
                              texsnap::kWalHeightOffset, kWalOffsetsOffset},
                             name, width, height, out);
}

bool AppendMiptexHeader(const std::string& name, int width, int height, std::vector<uint8_t>* out) {
  return AppendTextureHeader({kMiptexFullHeaderSize, kMiptexNameSize, mipsnap::kMiptexWidthOffset,
                              mipsnap::kMiptexHeightOffset, kMiptexOffsetsOffset},
                             name, width, height, out);
}

void AppendLumpInfo(uint32_t position, uint32_t size, uint8_t type, const std::string& name,
                    std::vector<uint8_t>* out) {
  uint8_t* p = Grow(out, mipsnap::kLumpInfoSize);
  host::PutLE32(p + mipsnap::kLumpFilePosOffset, position);
  host::PutLE32(p + mipsnap::kLumpDiskSizeOffset, size);
  host::PutLE32(p + kLumpSizeOffset, size);
  p[kLumpTypeOffset] = type;
  p[kLumpCompressionOffset] = 0;
  PutName(p + mipsnap::kLumpNameOffset, name, mipsnap::kLumpNameSize);
}

}  // namespace snapback
