// The mixed RLE codec on arbitrary bytes, two ways. As a stored stream: the
// size scan and the decoder agree with each other and with the tests'
// byte-at-a-time decoder. As a file: the encoding is the tests' greedy one,
// at most twice as long as the file, and
// decoding it gives the file back. Both again through the stream classes,
// with the input in two pieces cut where its first byte says and the
// decoding into a room that holds part of it. Every input goes through
// every code path the processor has.
#include <algorithm>
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

// Where the input is cut in two: anywhere from its start to its end.
size_t Cut(const uint8_t* data, size_t size) { return size == 0 ? 0 : data[0] * size / 255; }

void CheckStreams(const uint8_t* data, size_t size, const Bytes& decoded, const Bytes& encoded) {
  const size_t cut = Cut(data, size);
  Bytes out(decoded.size());
  rle::Decoder decoder;
  size_t got = decoder.Feed(data, cut, out.data(), out.size());
  got += decoder.Feed(data + cut, size - cut, out.data() + got, out.size() - got);
  if (got != decoded.size() || out != decoded || decoder.overflowed()) {
    Found("rle::Decoder in two pieces differs from the reference decoding");
  }
  // A room too small for the decoding takes its start, the last run cut.
  const size_t room = decoded.size() - decoded.size() / 3;
  rle::Decoder short_of_room;
  out.assign(room, 0);
  if (short_of_room.Feed(data, size, out.data(), room) != room ||
      !std::equal(out.begin(), out.end(), decoded.begin()) ||
      short_of_room.overflowed() != (room < decoded.size())) {
    Found("rle::Decoder does not fill a room too small with the start of the decoding");
  }

  rle::Encoder encoder;
  out.assign(2 * rle::Encoder::MaxOutput(size), 0);
  size_t n = encoder.Feed(data, cut, out.data());
  n += encoder.Feed(data + cut, size - cut, out.data() + n);
  n += encoder.Finish(out.data() + n);
  out.resize(n);
  if (out != encoded) Found("rle::Encoder in two pieces differs from the greedy encoding");
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
  CheckStreams(data, size, expected, rle_reference::Encode(data, size));
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
