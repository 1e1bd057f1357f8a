// An archive reader, writer and RLE codec of the tests' own, kept apart from
// the tool's code on purpose: the end-to-end tests judge the tool's files with
// it, so a misreading of the format in the tool cannot hide behind the same
// misreading in the checker.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace xkrf_test {

using e2e::Bytes;

inline constexpr size_t kHeaderSize = 24;
inline constexpr size_t kEntrySize = 80;
inline constexpr size_t kNameField = 64;
inline constexpr int32_t kLive = 0x100;
inline constexpr int32_t kNone = 0x001;
inline constexpr int32_t kRle = 0x002;

int32_t GetLe32(const Bytes& bytes, size_t offset);
void PutLe32(Bytes* bytes, size_t offset, int32_t value);

struct Entry {
  std::string name;        // up to the first zero byte of the field
  bool terminated = true;  // the field holds a zero byte
  int32_t type = 0;
  int32_t ofs = 0;
  int32_t raw_len = 0;
  int32_t size = 0;
};

struct Archive {
  Bytes head;  // the raw 24 header bytes
  int32_t version = 0;
  int32_t dir_entries = 0;
  int32_t dir_ofs = 0;
  int32_t file_len = 0;
  std::vector<Entry> entries;
  Bytes file;  // the whole file

  std::vector<std::string> Names() const;
  const Entry* Find(const std::string& name) const;
  // The stored bytes of `entry` (empty when they lie outside the file).
  Bytes Stored(const Entry& entry) const;
  // The file an entry stands for: the stored bytes, RLE-decoded when the
  // method bit says so.
  Bytes Content(const Entry& entry) const;
};

// Reads the header and the directory; false (with the reason) when the file
// cannot hold what its header claims.
bool ParseArchive(const Bytes& file, Archive* out, std::string* why);
// Reads the file at `path`; a parse failure fails the current test.
Archive LoadArchive(const std::string& path);

// Checks every invariant a finished archive keeps: magic, layout, back-to-back
// data, only live entries, unique names, non-empty entries, size rules, and
// stored RLE streams equal to the greedy encoding of their content.
// `zero_padding`: the three bytes behind the magic must be zero (true for
// every archive the tool created itself).
::testing::AssertionResult IsFinishedArchive(const std::string& path, bool zero_padding = true);

// The stream the archive stores for `raw` with method RLE (greedy runs of at
// most 63, single bytes from 0xC0 escaped as C1 xx).
Bytes EncodeRle(const Bytes& raw);
// Decodes a stream; false when it ends in a count byte without its data byte
// (what was decoded before it is still in `out`).
bool DecodeRle(const Bytes& stream, Bytes* out);

// One record of a hand-made archive.
struct Crafted {
  std::string name;  // copied into the 64-byte field, at most 64 bytes
  int32_t type = kLive | kNone;
  Bytes stored;
  int32_t raw_len = -1;  // -1: the length of `stored`
};

// Lays out a hand-made archive the way the tool finishes one: data back to
// back from offset 24, directory last.
Bytes BuildArchive(const std::vector<Crafted>& entries, int32_t version = 0, int32_t file_len = 0);
// Sets the directory fields of entry `index` of a built archive.
void PatchEntry(Bytes* file, size_t index, int field_offset, int32_t value);

inline constexpr int kTypeField = 64;
inline constexpr int kOfsField = 68;
inline constexpr int kRawLenField = 72;
inline constexpr int kSizeField = 76;

}  // namespace xkrf_test
