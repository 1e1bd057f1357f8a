#include "mixed/mixed.h"

#include "rle/run_length.h"

size_t mixed_EncodeRLE(const uint8_t* raw, size_t len, uint8_t* dst) {
  // Each unit of two bytes covers two input bytes or one that needs the
  // escape, so the output never exceeds twice the input (the tests check
  // the bound over random and worst-case inputs).
  return rle::Encode(raw, len, dst);
}

size_t mixed_EncodeRLE(const uint8_t* raw, size_t len, std::vector<uint8_t>* dest) {
  dest->resize(2 * len);
  const size_t size = mixed_EncodeRLE(raw, len, dest->data());
  dest->resize(size);
  return size;
}

int64_t mixed_DecodedRLESize(const uint8_t* raw, size_t len) {
  rle::Scanner scanner;
  scanner.Feed(raw, len);
  return scanner.decoded();
}

int64_t mixed_DecodeRLE(const uint8_t* raw, size_t len, uint8_t* dst, size_t room) {
  rle::Decoder decoder;
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
