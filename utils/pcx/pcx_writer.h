// The pure parts of the PCX writer: header and scan-line encoding into
// memory. File I/O lives in the converter frame.
#pragma once

#include <cstdint>
#include <vector>

namespace pcx {

// Appends the run-length encoding of `length` bytes at `line` to `out`.
// Runs stop at the end of the line, so lines encode independently.
void pcxWriteLine(std::vector<uint8_t>* out, const uint8_t* line, int length);

// Fills the 128 bytes at `header` for a width x height image.
// REQUIRES: 1 <= width, height <= pcx::kMaxDimension.
void BuildPcxHeader(uint8_t* header, int width, int height);

}  // namespace pcx
