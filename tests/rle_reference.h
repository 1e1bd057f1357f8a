// The run-length scheme written out byte at a time, straight from its
// rules, for the unit tests, the end-to-end tests and the fuzzers to judge
// the codec by. It shares no code with the codec on purpose: a misreading
// of the scheme in the codec cannot hide behind the same one here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rle_reference {

using Bytes = std::vector<uint8_t>;

// Greedy runs of at most 63 equal bytes as 0xC0 + length and the byte; a
// single byte below 0xC0 stands alone, a single one from 0xC0 on takes the
// count byte 0xC1.
inline Bytes Encode(const uint8_t* p, size_t n) {
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

inline Bytes Encode(const Bytes& raw) { return Encode(raw.data(), raw.size()); }

// A byte below 0xC0 stands for itself; 0xC0 + N repeats the next byte N
// times. False when the stream ends in a count byte without its data byte;
// what came before it is in `*out` all the same.
inline bool Decode(const uint8_t* p, size_t n, Bytes* out) {
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

inline Bytes Decode(const Bytes& stream) {
  Bytes out;
  Decode(stream.data(), stream.size(), &out);
  return out;
}

}  // namespace rle_reference
