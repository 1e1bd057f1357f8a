#include "mixed/mixed.h"

#include <cstring>

size_t mixed_EncodeRLE(const uint8_t* raw, size_t len, std::vector<uint8_t>* dest) {
  dest->resize(2 * len);
  uint8_t* const out = dest->data();
  const size_t limit = 2 * len;
  size_t size = 0;
  size_t pos = 0;
  while (pos < len) {
    const uint8_t data = raw[pos];
    size_t run = 1;
    while (pos + 1 < len && raw[pos + 1] == data && run < static_cast<size_t>(mixed::kMaxRun)) {
      ++run;
      ++pos;
    }
    // Two output bytes at most per unit, and a unit of two covers either two
    // input bytes or one byte that needs the escape; the check below can
    // only fire if that reasoning is broken.
    const size_t needed = (data >= mixed::kCountBase || run > 1) ? 2 : 1;
    if (size + needed > limit) throw mixed::EncodeOverflow();
    if (needed == 2) out[size++] = static_cast<uint8_t>(mixed::kCountBase | run);
    out[size++] = data;
    ++pos;
  }
  dest->resize(size);
  return size;
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
  dest->resize(static_cast<size_t>(size));
  uint8_t* out = dest->data();
  size_t pos = 0;
  while (pos < len) {
    const uint8_t in = raw[pos++];
    if (in >= mixed::kCountBase) {
      if (pos >= len) break;
      const size_t count = in - mixed::kCountBase;
      const uint8_t data = raw[pos++];
      if (count > 0) {
        std::memset(out, data, count);
        out += count;
      }
    } else {
      *out++ = in;
    }
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
