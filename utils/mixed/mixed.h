// The mixed RLE codec: the run-length scheme of PCX scan lines applied to a
// whole file. A stream is a sequence of units; a byte below 0xC0 stands for
// itself, a byte 0xC0 + N (N = 0..63) repeats the byte after it N times.
// The stream has no header and no end marker: its length comes from outside.
//
// The functions are pure: they read the input buffer, fill a vector handed in
// by the caller, and do no I/O. A stream handed over in pieces is encoded,
// decoded and scanned by rle::Encoder, rle::Decoder and rle::Scanner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Encodes `len` bytes at `raw` into `dst`, which has room for 2 * len bytes
// (the most the encoding can take), and returns the encoded length. Runs are
// cut at 63 bytes; a single byte of 0xC0 or more is escaped as 0xC1 and the
// byte.
size_t mixed_EncodeRLE(const uint8_t* raw, size_t len, uint8_t* dst);
// The same into `*dest`, resized to the encoded length.
size_t mixed_EncodeRLE(const uint8_t* raw, size_t len, std::vector<uint8_t>* dest);

// The decoded length of the stream of `len` bytes at `raw`. A count byte as
// the very last byte (its data byte missing, as in a damaged stream) ends the
// walk: nothing is read past the stream.
int64_t mixed_DecodedRLESize(const uint8_t* raw, size_t len);

// Decodes the stream into `dst`, which has room for `room` bytes, and returns
// the decoded length as mixed_DecodedRLESize reports it; output beyond
// `room` is not written. Callers that must bound their memory take the size
// first.
int64_t mixed_DecodeRLE(const uint8_t* raw, size_t len, uint8_t* dst, size_t room);
// The same into `*dest`, resized to exactly the decoded length.
int64_t mixed_DecodeRLE(const uint8_t* raw, size_t len, std::vector<uint8_t>* dest);
