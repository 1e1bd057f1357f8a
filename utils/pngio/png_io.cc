// Built on libspng rather than libpng. On the benchmark's textures both
// took the same time to encode and decode (zlib does the work in both), so
// the interface decided: libspng reads and writes streams a scan line at a
// time without setjmp/longjmp jumping over C++ frames, limits image and chunk
// sizes before it allocates, and turns every colour type into RGBA with
// tRNS applied in one call.
#include "pngio/png_io.h"

#include <spng.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "host/byteorder.h"

namespace pngio {

namespace {

struct CtxFree {
  void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Ctx = std::unique_ptr<spng_ctx, CtxFree>;

constexpr uint64_t kMaxInflateRatio = 1100;

// Ancillary chunks the tools never look at may not make a file expensive.
constexpr size_t kChunkLimit = size_t{1} << 24;

// zlib level 1 and the Sub filter on every row: on the benchmark's 2,000
// textures this wrote 11% less than Pillow's defaults (level 6, no filter
// for palette images) in a third of the time. Level 6 without a filter
// takes three times as long for about Pillow's size; higher levels with Sub
// gain a few percent at twice the time.
constexpr int kCompressionLevel = 1;
constexpr int kFilter = SPNG_FILTER_CHOICE_SUB;

bool Fail(std::string* error, const char* what, int code) {
  *error = std::string(what) + ": " + spng_strerror(code);
  return false;
}

// What the file's bytes are read in: libspng asks for a few bytes at a
// time (a chunk's header, its checksum), a system call each without it.
constexpr size_t kReadBlock = size_t{1} << 16;

// Adam7: the first column of each pass and the distance between its
// columns.
constexpr int kPassX0[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr int kPassDx[7] = {8, 8, 4, 4, 2, 2, 1};

// Spreads `n` packed indices of `depth` bits (1, 2 or 4) to a byte each.
void Unpack(const uint8_t* in, size_t n, int depth, uint8_t* out) {
  const unsigned mask = (1u << depth) - 1;
  const size_t per_byte = static_cast<size_t>(8 / depth);
  for (size_t x = 0; x < n; ++x) {
    const int shift = 8 - depth * (static_cast<int>(x % per_byte) + 1);
    out[x] = static_cast<uint8_t>((in[x / per_byte] >> shift) & mask);
  }
}

// Copies a span's pixels to their places in its row.
void Place(const PngSpan& span, size_t channels, uint8_t* row) {
  const uint8_t* from = span.pixels;
  uint8_t* to = row + static_cast<size_t>(span.x0) * channels;
  const size_t stride = static_cast<size_t>(span.step) * channels;
  for (int k = 0; k < span.count; ++k, from += channels, to += stride) {
    std::memcpy(to, from, channels);
  }
}

}  // namespace

// One pass of libspng over the file, from its first byte.
struct PngReader::Decoder {
  Ctx ctx;
  const ByteSource* source = nullptr;
  uint64_t size = 0;
  uint64_t next = 0;  // the file offset of the byte after those buffered
  std::vector<uint8_t> buffer;
  size_t taken = 0;  // of buffer

  static int Read(spng_ctx*, void* user, void* dest, size_t n) {
    auto* d = static_cast<Decoder*>(user);
    auto* out = static_cast<uint8_t*>(dest);
    while (n > 0) {
      if (d->taken == d->buffer.size()) {
        const uint64_t left = d->size - d->next;
        if (left == 0) return SPNG_IO_EOF;
        d->buffer.resize(static_cast<size_t>(std::min<uint64_t>(kReadBlock, left)));
        if (!(*d->source)(d->next, d->buffer.data(), d->buffer.size())) return SPNG_IO_ERROR;
        d->next += d->buffer.size();
        d->taken = 0;
      }
      const size_t part = std::min(n, d->buffer.size() - d->taken);
      std::memcpy(out, d->buffer.data() + d->taken, part);
      d->taken += part;
      out += part;
      n -= part;
    }
    return 0;
  }
};

PngReader::PngReader() = default;
PngReader::~PngReader() = default;

bool PngReader::Start(std::unique_ptr<Decoder>* decoder, std::string* error) {
  if (opened_) {
    *decoder = std::move(opened_);
    return true;
  }
  auto d = std::make_unique<Decoder>();
  d->ctx.reset(spng_ctx_new(0));
  if (!d->ctx) {
    *error = "out of memory";
    return false;
  }
  d->source = &source_;
  d->size = size_;
  spng_ctx* c = d->ctx.get();
  int rc = spng_set_png_stream(c, &Decoder::Read, d.get());
  if (rc == 0)
    rc = spng_set_image_limits(c, static_cast<uint32_t>(max_side_),
                               static_cast<uint32_t>(max_side_));
  if (rc == 0) rc = spng_set_chunk_limits(c, kChunkLimit, kChunkLimit);
  if (rc != 0) return Fail(error, "PNG", rc);
  spng_ihdr ihdr;
  if ((rc = spng_get_ihdr(c, &ihdr)) != 0) return Fail(error, "PNG header", rc);
  *decoder = std::move(d);
  return true;
}

bool PngReader::Open(ByteSource source, uint64_t size, int max_side, std::string* error) {
  source_ = std::move(source);
  size_ = size;
  max_side_ = max_side;
  opened_.reset();
  std::unique_ptr<Decoder> d;
  if (!Start(&d, error)) return false;
  spng_ctx* c = d->ctx.get();
  spng_ihdr ihdr;
  int rc = spng_get_ihdr(c, &ihdr);
  if (rc != 0) return Fail(error, "PNG header", rc);

  // zlib cannot expand data more than about 1032 times, so a header that
  // promises more rows than the file can hold is refused before the pixel
  // memory is taken (and touched).
  const int channels[] = {1, 0, 3, 1, 2, 0, 4};
  const uint64_t bits =
      uint64_t{ihdr.width} * ihdr.bit_depth * static_cast<uint64_t>(channels[ihdr.color_type % 7]);
  const uint64_t raw = ((bits + 7) / 8 + 1) * ihdr.height;
  if (raw > size * kMaxInflateRatio) {
    *error = "PNG image data cut short";
    return false;
  }

  info_ = {};
  info_.width = static_cast<int>(ihdr.width);
  info_.height = static_cast<int>(ihdr.height);
  info_.indexed = ihdr.color_type == SPNG_COLOR_TYPE_INDEXED;
  depth_ = ihdr.bit_depth;
  interlaced_ = ihdr.interlace_method != 0;
  // Opaque 8-bit RGB rows are taken as they are, with no conversion.
  spng_trns trns;
  const bool has_trns = spng_get_trns(c, &trns) == 0;
  const bool rgb = ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR && ihdr.bit_depth == 8 && !has_trns;
  info_.channels = info_.indexed ? 1 : rgb ? 3 : 4;
  if (info_.indexed) {
    spng_plte plte;
    if ((rc = spng_get_plte(c, &plte)) != 0) return Fail(error, "PNG palette", rc);
    info_.palette.resize(size_t{plte.n_entries} * 3);
    info_.palette_alpha.assign(plte.n_entries, 255);
    for (uint32_t i = 0; i < plte.n_entries; ++i) {
      info_.palette[3 * i] = plte.entries[i].red;
      info_.palette[3 * i + 1] = plte.entries[i].green;
      info_.palette[3 * i + 2] = plte.entries[i].blue;
    }
    for (uint32_t i = 0; has_trns && i < trns.n_type3_entries && i < plte.n_entries; ++i) {
      info_.palette_alpha[i] = trns.type3_alpha[i];
    }
  }
  opened_ = std::move(d);
  return true;
}

bool PngReader::ReadSpans(const std::function<void(const PngSpan&)>& take, std::string* error) {
  std::unique_ptr<Decoder> d;
  if (!Start(&d, error)) return false;
  spng_ctx* c = d->ctx.get();
  const int format = info_.indexed         ? SPNG_FMT_PNG
                     : info_.channels == 3 ? SPNG_FMT_RGB8
                                           : SPNG_FMT_RGBA8;
  const int flags = info_.channels == 4 ? SPNG_DECODE_TRNS : 0;
  int rc = spng_decode_image(c, nullptr, 0, format, flags | SPNG_DECODE_PROGRESSIVE);
  if (rc != 0) return Fail(error, "PNG image data", rc);
  const auto width = static_cast<size_t>(info_.width);
  const auto channels = static_cast<size_t>(info_.channels);
  // A scan line as the library gives it (packed indices included), and
  // the indices unpacked.
  std::vector<uint8_t> line(width * channels);
  std::vector<uint8_t> unpacked(info_.indexed && depth_ < 8 ? width : 0);
  const size_t entries = info_.palette_alpha.size();
  do {
    spng_row_info row;
    if ((rc = spng_get_row_info(c, &row)) != 0) return Fail(error, "PNG image data", rc);
    rc = spng_decode_scanline(c, line.data(), line.size());
    if (rc != 0 && rc != SPNG_EOI) return Fail(error, "PNG image data", rc);
    // Adam7's last pass takes every column, as each line of a plain image.
    const int pass = interlaced_ ? row.pass : 6;
    PngSpan span;
    span.y = static_cast<int>(row.row_num);
    span.x0 = kPassX0[pass];
    span.step = kPassDx[pass];
    span.count = (info_.width - span.x0 + span.step - 1) / span.step;
    span.pixels = line.data();
    if (!unpacked.empty()) {
      Unpack(line.data(), static_cast<size_t>(span.count), depth_, unpacked.data());
      span.pixels = unpacked.data();
    }
    // An index beyond the palette is an error the decoder may let through.
    for (int k = 0; info_.indexed && k < span.count; ++k) {
      if (span.pixels[k] >= entries) {
        *error = "PNG pixel outside its palette";
        return false;
      }
    }
    take(span);
  } while (rc == 0);
  return true;
}

bool PngReader::ReadRows(size_t budget, const std::function<void(int y, const uint8_t* row)>& take,
                         std::string* error) {
  const auto width = static_cast<size_t>(info_.width);
  const auto channels = static_cast<size_t>(info_.channels);
  if (!interlaced_) {
    return ReadSpans([&take](const PngSpan& span) { take(span.y, span.pixels); }, error);
  }
  const size_t row_bytes = width * channels;
  const int band = static_cast<int>(
      std::clamp<size_t>(budget / row_bytes, 1, static_cast<size_t>(info_.height)));
  std::vector<uint8_t> rows(static_cast<size_t>(band) * row_bytes);
  for (int first = 0; first < info_.height; first += band) {
    const int end = std::min(info_.height, first + band);
    const bool read = ReadSpans(
        [&](const PngSpan& span) {
          if (span.y >= first && span.y < end) {
            Place(span, channels, rows.data() + static_cast<size_t>(span.y - first) * row_bytes);
          }
        },
        error);
    if (!read) return false;
    for (int y = first; y < end; ++y)
      take(y, rows.data() + static_cast<size_t>(y - first) * row_bytes);
  }
  return true;
}

bool LooksLikePng(const uint8_t* data, size_t size) {
  return size >= sizeof kSignature && std::memcmp(data, kSignature, sizeof kSignature) == 0;
}

bool ReadPngSize(const uint8_t* data, size_t size, uint32_t* width, uint32_t* height) {
  constexpr size_t kTypeOffset = 12;
  constexpr size_t kWidthOffset = 16;
  constexpr size_t kHeightOffset = 20;
  if (size < kSizeBytes || !LooksLikePng(data, size) ||
      std::memcmp(data + kTypeOffset, "IHDR", 4) != 0) {
    return false;
  }
  *width = host::GetBE32(data + kWidthOffset);
  *height = host::GetBE32(data + kHeightOffset);
  return true;
}

ByteSource MemorySource(const uint8_t* data, size_t size) {
  return [data, size](uint64_t offset, uint8_t* dest, size_t n) {
    if (offset > size || n > size - offset) return false;
    std::memcpy(dest, data + offset, n);
    return true;
  };
}

bool ReadPng(const uint8_t* data, size_t size, int max_side, PngImage* out, std::string* error) {
  if (!LooksLikePng(data, size)) {
    *error = "not a PNG file";
    return false;
  }
  PngReader reader;
  if (!reader.Open(MemorySource(data, size), size, max_side, error)) return false;
  *out = reader.info();
  const auto channels = static_cast<size_t>(out->channels);
  const size_t row_bytes = static_cast<size_t>(out->width) * channels;
  out->pixels.resize(row_bytes * static_cast<size_t>(out->height));
  return reader.ReadSpans(
      [out, channels, row_bytes](const PngSpan& span) {
        Place(span, channels, out->pixels.data() + static_cast<size_t>(span.y) * row_bytes);
      },
      error);
}

struct IndexedPngWriter::State {
  Ctx ctx;
  Sink sink;
  size_t row_bytes = 0;
};

IndexedPngWriter::IndexedPngWriter() : state_(std::make_unique<State>()) {}
IndexedPngWriter::~IndexedPngWriter() = default;

bool IndexedPngWriter::Begin(int width, int height, const uint8_t* palette, Sink sink) {
  state_->ctx.reset(spng_ctx_new(SPNG_CTX_ENCODER));
  spng_ctx* c = state_->ctx.get();
  if (c == nullptr) return false;
  state_->sink = std::move(sink);
  state_->row_bytes = static_cast<size_t>(width);
  auto write = [](spng_ctx*, void* user, void* data, size_t n) -> int {
    const Sink& to = static_cast<State*>(user)->sink;
    return to(static_cast<const uint8_t*>(data), n) ? 0 : SPNG_IO_ERROR;
  };
  spng_ihdr ihdr{};
  ihdr.width = static_cast<uint32_t>(width);
  ihdr.height = static_cast<uint32_t>(height);
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_INDEXED;
  spng_plte plte{};
  plte.n_entries = 256;
  for (int i = 0; i < 256; ++i) {
    plte.entries[i].red = palette[3 * i];
    plte.entries[i].green = palette[3 * i + 1];
    plte.entries[i].blue = palette[3 * i + 2];
  }
  return spng_set_png_stream(c, write, state_.get()) == 0 &&
         spng_set_option(c, SPNG_IMG_COMPRESSION_LEVEL, kCompressionLevel) == 0 &&
         spng_set_option(c, SPNG_FILTER_CHOICE, kFilter) == 0 && spng_set_ihdr(c, &ihdr) == 0 &&
         spng_set_plte(c, &plte) == 0 &&
         spng_encode_image(c, nullptr, 0, SPNG_FMT_PNG,
                           SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE) == 0;
}

bool IndexedPngWriter::Row(const uint8_t* row) {
  const int rc = spng_encode_row(state_->ctx.get(), row, state_->row_bytes);
  return rc == 0 || rc == SPNG_EOI;
}

bool WriteIndexedPng(const uint8_t* indices, int width, int height, const uint8_t* palette,
                     std::vector<uint8_t>* out) {
  IndexedPngWriter writer;
  const bool began = writer.Begin(width, height, palette, [out](const uint8_t* data, size_t n) {
    out->insert(out->end(), data, data + n);
    return true;
  });
  if (!began) return false;
  const auto w = static_cast<size_t>(width);
  for (int y = 0; y < height; ++y) {
    if (!writer.Row(indices + static_cast<size_t>(y) * w)) return false;
  }
  return true;
}

}  // namespace pngio
