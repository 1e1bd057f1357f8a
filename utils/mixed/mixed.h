// The mixed RLE codec: the run-length scheme of PCX scan lines applied to a
// whole file. A stream is a sequence of units; a byte below 0xC0 stands for
// itself, a byte 0xC0 + N (N = 0..63) repeats the byte after it N times.
// The stream has no header and no end marker: its length comes from outside.
//
// The functions are pure: they read the input buffer, fill a vector handed in
// by the caller, and do no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "rle/run_length.h"

namespace mixed {

// Encodes a file handed over in pieces, in bounded memory: the output of all
// Feed calls and Finish together is exactly mixed_EncodeRLE of the whole
// file. A run still open at the end of a piece is held back, since the next
// piece may continue it.
class RleEncoder {
 public:
  // Room Feed needs for a piece of `n` bytes.
  static constexpr size_t MaxOutput(size_t n) { return 2 * n + 2; }
  // Writes what `data` settles to `out` and returns the count written.
  size_t Feed(const uint8_t* data, size_t n, uint8_t* out);
  // Writes the run held back, if any (at most 2 bytes).
  size_t Finish(uint8_t* out);

 private:
  rle::OpenRun open_;  // the run held back
};

// Decodes a stream handed over in pieces; a count byte at the end of one
// piece takes its data byte from the next.
class RleDecoder {
 public:
  // Room that always holds what a piece of `n` bytes decodes to.
  static constexpr size_t MaxOutput(size_t n) { return 32 * n + 64; }
  // Writes what `data` decodes to into `out`, which has room for `room`
  // bytes, and returns the count written. Output that would not fit is cut
  // off and overflowed() turns true; nothing is written beyond `room`.
  size_t Feed(const uint8_t* data, size_t n, uint8_t* out, size_t room);
  bool dangling() const { return pending_; }
  bool overflowed() const { return overflowed_; }

 private:
  bool pending_ = false;
  bool overflowed_ = false;
  int pending_count_ = 0;
};

// Walks a stream handed over in pieces and counts the bytes it decodes to,
// so a stream of any length is checked in bounded memory.
class RleScanner {
 public:
  void Feed(const uint8_t* data, size_t n);
  int64_t decoded() const { return decoded_; }
  // True when the stream so far ends in a count byte without its data byte.
  bool dangling() const { return pending_; }

 private:
  int64_t decoded_ = 0;
  bool pending_ = false;
  int pending_count_ = 0;
};

}  // namespace mixed

// Encodes `len` bytes at `raw` into `dst`, which has room for 2 * len bytes
// (the most the encoding can take), and returns the encoded length. Runs are
// cut at 63 bytes; a single byte of 0xC0 or more is escaped as 0xC1 and the
// byte.
size_t mixed_EncodeRLE(const uint8_t* raw, size_t len, uint8_t* dst);
// The same into `*dest`, resized to the encoded length.
size_t mixed_EncodeRLE(const uint8_t* raw, size_t len, std::vector<uint8_t>* dest);

// The decoded length of the stream of `len` bytes at `raw`. A count byte as
// the very last byte (its data byte missing, as in a damaged stream) ends the
// walk: nothing is read past the stream.
int64_t mixed_DecodedRLESize(const uint8_t* raw, size_t len);

// Decodes the stream into `dst`, which has room for `room` bytes, and returns
// the decoded length as mixed_DecodedRLESize reports it; output beyond
// `room` is not written. Callers that must bound their memory take the size
// first.
int64_t mixed_DecodeRLE(const uint8_t* raw, size_t len, uint8_t* dst, size_t room);
// The same into `*dest`, resized to exactly the decoded length.
int64_t mixed_DecodeRLE(const uint8_t* raw, size_t len, std::vector<uint8_t>* dest);
