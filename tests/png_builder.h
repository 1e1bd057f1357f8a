// PNG files built by hand for tests: the filtered rows in stored deflate
// blocks, so a test needs no encoder of its own and the file's size is the
// size of its rows.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <vector>

namespace pngtest {

using Bytes = std::vector<uint8_t>;

// The CRC-32 of p[0..n) continued from that of the bytes before them.
inline uint32_t Crc(const uint8_t* p, size_t n, uint32_t before = 0) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
      t[i] = c;
    }
    return t;
  }();
  uint32_t c = ~before;
  for (size_t i = 0; i < n; ++i) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return ~c;
}

inline void Be32(Bytes* out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out->push_back(static_cast<uint8_t>(v >> s));
}

inline void Chunk(Bytes* png, const char* type, const Bytes& data) {
  Be32(png, static_cast<uint32_t>(data.size()));
  const size_t start = png->size();
  png->insert(png->end(), type, type + 4);
  png->insert(png->end(), data.begin(), data.end());
  Be32(png, Crc(png->data() + start, png->size() - start));
}

inline Bytes Header(uint32_t w, uint32_t h, uint8_t depth, uint8_t colour,
                    bool interlaced = false) {
  static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes png(std::begin(kSignature), std::end(kSignature));
  Bytes ihdr;
  Be32(&ihdr, w);
  Be32(&ihdr, h);
  ihdr.insert(ihdr.end(), {depth, colour, 0, 0, static_cast<uint8_t>(interlaced)});
  Chunk(&png, "IHDR", ihdr);
  return png;
}

// A PNG of w x h of the given bit depth and colour type whose IDAT holds
// `rows` (each with its filter byte) as they are.
inline Bytes StoredPng(uint32_t w, uint32_t h, uint8_t depth, uint8_t colour, const Bytes& rows,
                       const Bytes& plte = {}, const Bytes& trns = {}, bool interlaced = false) {
  Bytes png = Header(w, h, depth, colour, interlaced);
  if (!plte.empty()) Chunk(&png, "PLTE", plte);
  if (!trns.empty()) Chunk(&png, "tRNS", trns);
  Bytes z = {0x78, 0x01};
  constexpr size_t kMostStored = 65535;
  size_t at = 0;
  do {
    const size_t n = std::min(kMostStored, rows.size() - at);
    const bool last = at + n == rows.size();
    z.insert(z.end(),
             {static_cast<uint8_t>(last), static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
              static_cast<uint8_t>(~n), static_cast<uint8_t>(~n >> 8)});
    z.insert(z.end(), rows.begin() + static_cast<long>(at),
             rows.begin() + static_cast<long>(at + n));
    at += n;
  } while (at < rows.size());
  uint32_t a = 1, b = 0;
  for (uint8_t byte : rows) a = (a + byte) % 65521, b = (b + a) % 65521;
  Be32(&z, b << 16 | a);
  Chunk(&png, "IDAT", z);
  Chunk(&png, "IEND", {});
  return png;
}

// The scan lines of an image of whole bytes a pixel (`pixels`: w x h of
// `bytes` each), each with filter byte 0: in order, or in Adam7's seven
// passes.
inline Bytes ScanLines(const Bytes& pixels, uint32_t w, uint32_t h, size_t bytes, bool interlaced) {
  static constexpr uint32_t kX0[7] = {0, 4, 0, 2, 0, 1, 0}, kDx[7] = {8, 8, 4, 4, 2, 2, 1};
  static constexpr uint32_t kY0[7] = {0, 0, 4, 0, 2, 0, 1}, kDy[7] = {8, 8, 8, 4, 4, 2, 2};
  Bytes out;
  for (int pass = interlaced ? 0 : 6; pass < 7; ++pass) {
    const uint32_t y0 = interlaced ? kY0[pass] : 0, dy = interlaced ? kDy[pass] : 1;
    if (kX0[pass] >= w) continue;
    for (uint32_t y = y0; y < h; y += dy) {
      out.push_back(0);
      for (uint32_t x = kX0[pass]; x < w; x += kDx[pass]) {
        const auto at = static_cast<long>((size_t{y} * w + x) * bytes);
        out.insert(out.end(), pixels.begin() + at, pixels.begin() + at + static_cast<long>(bytes));
      }
    }
  }
  return out;
}

// A PNG as StoredPng makes it, of 8-bit or 16-bit samples too large to hold:
// `row(y)` gives row y without its filter byte, and the file goes out
// through `sink` a row at a time, each row a stored block of its own.
inline void StreamStoredPng(uint32_t w, uint32_t h, uint8_t depth, uint8_t colour,
                            const std::function<Bytes(uint32_t y)>& row,
                            const std::function<void(const Bytes&)>& sink) {
  const uint32_t samples[] = {1, 0, 3, 1, 2, 0, 4};
  const uint32_t line = w * samples[colour] * depth / 8 + 1;
  sink(Header(w, h, depth, colour));
  Bytes part;
  Be32(&part, 2 + h * (5 + line) + 4);
  part.insert(part.end(), {'I', 'D', 'A', 'T', 0x78, 0x01});
  uint32_t crc = Crc(part.data() + 4, part.size() - 4);
  uint32_t a = 1, b = 0;
  for (uint32_t y = 0; y < h; ++y) {
    sink(part);
    part = {static_cast<uint8_t>(y + 1 == h), static_cast<uint8_t>(line),
            static_cast<uint8_t>(line >> 8),  static_cast<uint8_t>(~line),
            static_cast<uint8_t>(~line >> 8), 0};
    const Bytes pixels = row(y);
    part.insert(part.end(), pixels.begin(), pixels.end());
    for (size_t i = 5; i < part.size(); ++i) a = (a + part[i]) % 65521, b = (b + a) % 65521;
    crc = Crc(part.data(), part.size(), crc);
  }
  Be32(&part, b << 16 | a);
  crc = Crc(part.data() + part.size() - 4, 4, crc);
  Be32(&part, crc);
  Chunk(&part, "IEND", {});
  sink(part);
}

}  // namespace pngtest
