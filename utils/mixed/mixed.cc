#include "mixed/mixed.h"

#include <algorithm>
#include <cstring>

size_t mixed_EncodeRLE(const uint8_t* raw, size_t len, uint8_t* dst) {
  mixed::RleEncoder encoder;
  size_t size = encoder.Feed(raw, len, dst);
  // A held-back run was counted in the input but not yet written, so the
  // room of 2 * len always has space for it.
  size += encoder.Finish(dst + size);
  // Each unit of two bytes covers two input bytes or one that needs the
  // escape, so the output never exceeds twice the input (the tests check
  // the bound over random and worst-case inputs).
  return size;
}

size_t mixed_EncodeRLE(const uint8_t* raw, size_t len, std::vector<uint8_t>* dest) {
  // Feed may use the full room its worst case needs for the last piece.
  dest->resize(mixed::RleEncoder::MaxOutput(len));
  const size_t size = mixed_EncodeRLE(raw, len, dest->data());
  dest->resize(size);
  return size;
}

int64_t mixed_DecodedRLESize(const uint8_t* raw, size_t len) {
  mixed::RleScanner scanner;
  scanner.Feed(raw, len);
  return scanner.decoded();
}

int64_t mixed_DecodeRLE(const uint8_t* raw, size_t len, uint8_t* dst, size_t room) {
  mixed::RleDecoder decoder;
  const size_t size = decoder.Feed(raw, len, dst, room);
  // The decoder counts what it wrote; only a stream too long for the room
  // needs the separate scan to tell its length.
  return decoder.overflowed() ? mixed_DecodedRLESize(raw, len) : static_cast<int64_t>(size);
}

int64_t mixed_DecodeRLE(const uint8_t* raw, size_t len, std::vector<uint8_t>* dest) {
  const int64_t size = mixed_DecodedRLESize(raw, len);
  dest->resize(static_cast<size_t>(size));
  return mixed_DecodeRLE(raw, len, dest->data(), dest->size());
}
