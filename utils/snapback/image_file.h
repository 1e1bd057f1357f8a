// Reading an image file of either kind: PCX or PNG, told apart by their
// first bytes, never by the file name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "snapback/colour_map.h"

namespace snapback {

// Decodes a whole file held in memory into *image. Sides above `max_side`
// are refused before the pixels are decoded. False, with the reason in
// *error, for anything else than a PCX or PNG this tool reads.
bool DecodeImage(const uint8_t* data, size_t size, int max_side, SourceImage* image,
                 std::string* error);

}  // namespace snapback
