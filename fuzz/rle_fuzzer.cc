// The mixed RLE codec on arbitrary bytes, two ways. As a stored stream: the
// size scan and the decoder agree with each other and with a decoder
// written here from the format. As a file: the encoding is the greedy one
// written here from the format, at most twice as long as the file, and
// decoding it gives the file back. Every input goes through every code path
// the processor has.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "rle/run_length.h"
#include "mixed/mixed.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A byte below 0xC0 stands for itself; 0xC0 + N repeats the next byte N
// times. False when the stream ends in a count byte.
bool ReferenceDecode(const uint8_t* p, size_t n, Bytes* out) {
  out->clear();
  for (size_t i = 0; i < n; ++i) {
    if (p[i] < 0xC0) {
      out->push_back(p[i]);
    } else if (i + 1 == n) {
      return false;
    } else {
      out->insert(out->end(), p[i] - 0xC0u, p[i + 1]);
      ++i;
    }
  }
  return true;
}

// Runs of equal bytes, at most 63 long, as a count byte and the byte; a
// single byte below 0xC0 stands alone, a single byte from 0xC0 on takes the
// count byte 0xC1.
Bytes ReferenceEncode(const uint8_t* p, size_t n) {
  Bytes out;
  for (size_t i = 0; i < n;) {
    size_t run = 1;
    while (i + run < n && p[i + run] == p[i] && run < 63) ++run;
    if (run > 1 || p[i] >= 0xC0) out.push_back(static_cast<uint8_t>(0xC0 + run));
    out.push_back(p[i]);
    i += run;
  }
  return out;
}

[[noreturn]] void Found(const std::string& what) {
  krffuzz::Finding(what + " (" + rle::RunLengthPath() + " path)");
}

void CheckDecoding(const uint8_t* data, size_t size) {
  Bytes expected;
  ReferenceDecode(data, size, &expected);
  const int64_t length = mixed_DecodedRLESize(data, size);
  if (length != static_cast<int64_t>(expected.size())) {
    Found("mixed_DecodedRLESize says " + std::to_string(length) + ", the stream holds " +
                     std::to_string(expected.size()));
  }
  Bytes decoded;
  if (mixed_DecodeRLE(data, size, &decoded) != length || decoded != expected) {
    Found("mixed_DecodeRLE differs from the reference decoding");
  }
}

void CheckRoundTrip(const uint8_t* data, size_t size) {
  Bytes encoded;
  const size_t length = mixed_EncodeRLE(data, size, &encoded);
  if (length != encoded.size() || length > 2 * size) {
    Found("mixed_EncodeRLE gave " + std::to_string(length) + " bytes for " +
                     std::to_string(size));
  }
  if (encoded != ReferenceEncode(data, size)) {
    Found("mixed_EncodeRLE differs from the greedy encoding");
  }
  Bytes back;
  if (mixed_DecodeRLE(encoded.data(), encoded.size(), &back) != static_cast<int64_t>(size) ||
      back != Bytes(data, data + size)) {
    Found("decoding the encoder's output does not give the input back");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<std::string> paths = rle::RunLengthPaths();
  for (const std::string& path : paths) {
    rle::UseRunLengthPath(path);
    CheckDecoding(data, size);
    CheckRoundTrip(data, size);
  }
  return 0;
}
