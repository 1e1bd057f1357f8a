// The mixed RLE codec on arbitrary bytes, two ways. As a stored stream: the
// size scan and the decoder agree with each other and with the tests'
// byte-at-a-time decoder. As a file: the encoding is the tests' greedy one,
// at most twice as long as the file, and
// decoding it gives the file back. Every input goes through every code path
// the processor has.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "mixed/mixed.h"
#include "rle/run_length.h"
#include "rle_reference.h"

namespace {

using Bytes = std::vector<uint8_t>;

[[noreturn]] void Found(const std::string& what) {
  krffuzz::Finding(what + " (" + rle::RunLengthPath() + " path)");
}

void CheckDecoding(const uint8_t* data, size_t size) {
  Bytes expected;
  rle_reference::Decode(data, size, &expected);
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
    Found("mixed_EncodeRLE gave " + std::to_string(length) + " bytes for " + std::to_string(size));
  }
  if (encoded != rle_reference::Encode(data, size)) {
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
