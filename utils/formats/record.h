// What the writers of the formats share: records are appended zeroed and
// filled in field by field, so every byte a layout leaves unused is zero.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace formats {

// Appends `n` zero bytes and returns where they start.
inline uint8_t* Grow(std::vector<uint8_t>* out, size_t n) {
  const size_t at = out->size();
  out->resize(at + n, 0);
  return out->data() + at;
}

// The name, cut to `size` bytes, into a field the caller has zeroed.
inline void PutName(uint8_t* field, const std::string& name, size_t size) {
  std::copy_n(name.begin(), std::min(name.size(), size), field);
}

}  // namespace formats
