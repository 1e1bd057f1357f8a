// Built on libspng rather than libpng. On the benchmark's textures both
// took the same time to encode and decode (zlib does the work in both), so
// the interface decided: libspng reads from memory and writes to a stream
// without setjmp/longjmp jumping over C++ frames, limits image and chunk
// sizes before it allocates, and turns every colour type into RGBA with
// tRNS applied in one call.
#include "pngio/png_io.h"

#include <spng.h>

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

// Spreads packed indices of `depth` bits (1, 2 or 4), rows padded to whole
// bytes, to one byte per pixel, in place from the end of the buffer.
void Unpack(std::vector<uint8_t>* pixels, size_t width, size_t height, int depth) {
  const size_t packed_row = (width * static_cast<size_t>(depth) + 7) / 8;
  std::vector<uint8_t> packed;
  packed.swap(*pixels);
  pixels->resize(width * height);
  const unsigned mask = (1u << depth) - 1;
  const int per_byte = 8 / depth;
  for (size_t y = 0; y < height; ++y) {
    const uint8_t* in = packed.data() + y * packed_row;
    uint8_t* out = pixels->data() + y * width;
    for (size_t x = 0; x < width; ++x) {
      const int shift = 8 - depth * (static_cast<int>(x % per_byte) + 1);
      out[x] = static_cast<uint8_t>((in[x / per_byte] >> shift) & mask);
    }
  }
}

}  // namespace

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

bool ReadPng(const uint8_t* data, size_t size, int max_side, PngImage* out, std::string* error) {
  if (!LooksLikePng(data, size)) {
    *error = "not a PNG file";
    return false;
  }
  Ctx ctx(spng_ctx_new(0));
  if (!ctx) {
    *error = "out of memory";
    return false;
  }
  spng_ctx* c = ctx.get();
  int rc = spng_set_png_buffer(c, data, size);
  if (rc == 0)
    rc = spng_set_image_limits(c, static_cast<uint32_t>(max_side), static_cast<uint32_t>(max_side));
  if (rc == 0) rc = spng_set_chunk_limits(c, kChunkLimit, kChunkLimit);
  if (rc != 0) return Fail(error, "PNG", rc);
  spng_ihdr ihdr;
  if ((rc = spng_get_ihdr(c, &ihdr)) != 0) return Fail(error, "PNG header", rc);

  // zlib cannot expand data more than about 1032 times, so a header that
  // promises more rows than the file can hold is refused before the pixel
  // memory is taken (and touched).
  const int channels[] = {1, 0, 3, 1, 2, 0, 4};
  const uint64_t bits =
      uint64_t{ihdr.width} * ihdr.bit_depth * static_cast<uint64_t>(channels[ihdr.color_type % 7]);
  const uint64_t raw = ((bits + 7) / 8 + 1) * ihdr.height;
  if (raw > uint64_t{size} * kMaxInflateRatio) {
    *error = "PNG image data cut short";
    return false;
  }

  out->width = static_cast<int>(ihdr.width);
  out->height = static_cast<int>(ihdr.height);
  out->indexed = ihdr.color_type == SPNG_COLOR_TYPE_INDEXED;
  out->palette.clear();
  out->palette_alpha.clear();
  // Opaque 8-bit RGB rows are taken as they are, with no conversion.
  spng_trns key;
  const bool rgb = ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR && ihdr.bit_depth == 8 &&
                   spng_get_trns(c, &key) != 0;
  out->channels = out->indexed ? 1 : rgb ? 3 : 4;
  const int format = out->indexed ? SPNG_FMT_PNG : rgb ? SPNG_FMT_RGB8 : SPNG_FMT_RGBA8;
  const int flags = out->indexed || rgb ? 0 : SPNG_DECODE_TRNS;
  size_t bytes = 0;
  if ((rc = spng_decoded_image_size(c, format, &bytes)) != 0) return Fail(error, "PNG", rc);
  out->pixels.resize(bytes);
  if ((rc = spng_decode_image(c, out->pixels.data(), bytes, format, flags)) != 0) {
    return Fail(error, "PNG image data", rc);
  }
  if (!out->indexed) return true;

  spng_plte plte;
  if ((rc = spng_get_plte(c, &plte)) != 0) return Fail(error, "PNG palette", rc);
  out->palette.resize(size_t{plte.n_entries} * 3);
  out->palette_alpha.assign(plte.n_entries, 255);
  for (uint32_t i = 0; i < plte.n_entries; ++i) {
    out->palette[3 * i] = plte.entries[i].red;
    out->palette[3 * i + 1] = plte.entries[i].green;
    out->palette[3 * i + 2] = plte.entries[i].blue;
  }
  spng_trns trns;
  if (spng_get_trns(c, &trns) == 0) {
    for (uint32_t i = 0; i < trns.n_type3_entries && i < plte.n_entries; ++i) {
      out->palette_alpha[i] = trns.type3_alpha[i];
    }
  }
  if (ihdr.bit_depth < 8) {
    Unpack(&out->pixels, ihdr.width, ihdr.height, ihdr.bit_depth);
  }
  // An index beyond the palette is an error the decoder may let through.
  for (uint8_t index : out->pixels) {
    if (index >= plte.n_entries) {
      *error = "PNG pixel outside its palette";
      return false;
    }
  }
  return true;
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
