// The run-length scheme shared by the archive's RLE stream and PCX scan
// lines: a byte below 0xC0 stands for itself; 0xC0 + N repeats the byte
// after it N times (written with N of 1 to 63; read with 0 too, a run of
// nothing); a single byte of 0xC0 or more is written as 0xC1 and the byte.
// Runs are cut at 63 bytes, greedily from the front. rle/run_length.h
// encodes and decodes it; everything else takes its two numbers from here.
#pragma once

#include <cstdint>

namespace rle {

// Count bytes are kRunBase | N; every byte from kRunBase on is a count byte.
inline constexpr uint8_t kRunBase = 0xC0;
inline constexpr int kLongestRun = 63;

}  // namespace rle
