// The one encoder, decoder and size scan of the run-length scheme in
// rle/scheme.h: on a whole buffer, or on a stream handed over in pieces in
// bounded memory. Every reader and writer of the scheme goes through here;
// the per-instruction-set kernels behind them are chosen once, at the first
// call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "rle/scheme.h"

namespace rle {

// Encodes `n` bytes at `p` into `out` (room for 2 * n bytes, the most the
// encoding can take) and returns the count written. Runs end with the
// buffer: nothing is carried into whatever is encoded next.
size_t Encode(const uint8_t* p, size_t n, uint8_t* out);

// Encodes one input handed over in pieces: the output of all Feed calls and
// Finish together is exactly Encode of the whole input. A run still open at
// the end of a piece is held back, since the next piece may continue it.
class Encoder {
 public:
  // Room Feed needs for a piece of `n` bytes; Finish needs MaxOutput(0).
  static constexpr size_t MaxOutput(size_t n) { return 2 * n + 2; }
  // Writes what `p[0..n)` settles to `out` and returns the count written.
  size_t Feed(const uint8_t* p, size_t n, uint8_t* out);
  // Writes the run held back, if any, and returns the count written.
  size_t Finish(uint8_t* out);

 private:
  int open_byte_ = 0;
  int open_length_ = 0;  // 0: no run held back
};

// Decodes one stream handed over in pieces; a count byte at the end of one
// piece takes its data byte from the next. A stream whose last byte is a
// count byte ends there: nothing is read past a piece, and dangling() tells.
class Decoder {
 public:
  // Room that always holds what a piece of `n` bytes decodes to.
  static constexpr size_t MaxOutput(size_t n) { return 32 * n + 64; }
  // Writes what `p[0..n)` decodes to into `out`, which has room for `room`
  // bytes, and returns the count written. When the stream decodes to more
  // than the room, the room is filled with the start of the decoding (the
  // run that crosses its end cut there), overflowed() turns true and later
  // calls write nothing; nothing is ever written beyond `room`.
  size_t Feed(const uint8_t* p, size_t n, uint8_t* out, size_t room);
  // True when the stream so far ends in a count byte without its data byte.
  bool dangling() const { return pending_; }
  bool overflowed() const { return overflowed_; }

 private:
  bool pending_ = false;
  bool overflowed_ = false;
  int pending_count_ = 0;
};

// Counts what a stream handed over in pieces decodes to, so a stream of any
// length is checked in bounded memory.
class Scanner {
 public:
  void Feed(const uint8_t* p, size_t n);
  int64_t decoded() const { return decoded_; }
  // True when the stream so far ends in a count byte without its data byte.
  bool dangling() const { return pending_; }

 private:
  int64_t decoded_ = 0;
  bool pending_ = false;
  int pending_count_ = 0;
};

// The encoder, the decoder and the size scan run on the widest instruction
// set the processor has ("avx512", "avx2", "ssse3", "sse2"), else on "scalar"
// code; every path gives the same bytes. The choice is made at the first
// call.

// The paths this processor can run, widest first; "scalar" is always last.
std::vector<std::string> RunLengthPaths();
// The path in use.
std::string RunLengthPath();
// Makes every later call use `path`, for tests and measurements; false
// (nothing changed) when the processor cannot run it.
bool UseRunLengthPath(std::string_view path);

}  // namespace rle
