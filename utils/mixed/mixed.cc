#include "mixed/mixed.h"

#include <algorithm>
#include <cstring>

size_t mixed_EncodeRLE(const uint8_t* raw, size_t len, std::vector<uint8_t>* dest) {
  dest->clear();
  dest->reserve(2 * len + 2);
  mixed::RleEncoder encoder;
  encoder.Feed(raw, len, dest);
  encoder.Finish(dest);
  // Each unit of two bytes covers two input bytes or one that needs the
  // escape, so the output never exceeds twice the input; the check guards
  // that reasoning.
  if (dest->size() > 2 * len) throw mixed::EncodeOverflow();
  return dest->size();
}

int64_t mixed_DecodedRLESize(const uint8_t* raw, size_t len) {
  int64_t size = 0;
  size_t pos = 0;
  while (pos < len) {
    const uint8_t in = raw[pos++];
    if (in >= mixed::kCountBase) {
      if (pos >= len) break;  // count byte without its data byte
      ++pos;
      size += in - mixed::kCountBase;
    } else {
      size += 1;
    }
  }
  return size;
}

int64_t mixed_DecodeRLE(const uint8_t* raw, size_t len, std::vector<uint8_t>* dest) {
  const int64_t size = mixed_DecodedRLESize(raw, len);
  dest->clear();
  dest->reserve(static_cast<size_t>(size));
  mixed::RleDecoder decoder;
  // Pieces keep the decoder's scratch room small next to the result.
  constexpr size_t kPiece = 1 << 16;
  for (size_t pos = 0; pos < len; pos += kPiece) {
    decoder.Feed(raw + pos, std::min(kPiece, len - pos), dest);
  }
  return size;
}

int64_t apply_compression(const uint8_t* src, size_t size, int compress,
                          std::vector<uint8_t>* encoded, std::FILE* progress) {
  if ((compress & mixed::kCompressRle) == 0) return -1;
  std::fputs(", encoding RLE...", progress);
  std::fflush(progress);
  const size_t len = mixed_EncodeRLE(src, size, encoded);
  return len < size ? static_cast<int64_t>(len) : -1;
}

namespace mixed {

void RleScanner::Feed(const uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (pending_) {
      decoded_ += pending_count_;
      pending_ = false;
    } else if (data[i] >= kCountBase) {
      pending_ = true;
      pending_count_ = data[i] - kCountBase;
    } else {
      ++decoded_;
    }
  }
}

}  // namespace mixed
