// The smaller levels of a texture, as many as its file keeps offsets for
// (formats::kMipLevels counts the full-size image too). Level k (1 to 3)
// is (w >> k) x (h >> k); each of its pixels is the nearest index, by the
// colour rule, to the mean colour of its 2^k x 2^k block of the full-size
// image, each channel's mean rounded half up: (sum + n/2) / n. The colours
// are the tool palette's at the full-size indices, so the levels depend on
// those indices alone.
#pragma once

#include <cstdint>
#include <vector>

#include "formats/miptex.h"
#include "snapback/colour_map.h"

namespace snapback {

// Appends levels 1, 2 and 3 of the width x height indices `full` to *out.
// REQUIRES: width and height are multiples of 8.
void AppendMipLevels(const uint8_t* full, int width, int height, ColourMap& map,
                     std::vector<uint8_t>* out);

}  // namespace snapback
