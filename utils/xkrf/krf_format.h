// The KRF archive format: a 24-byte header, the data area with the stored
// bytes of every entry, and the directory of 80-byte entries, in that order.
// Every integer is a little-endian 32-bit signed value. This header is the
// one place that spells the format's sizes, offsets and magic.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace krf {

inline constexpr size_t kHeaderSize = 24;
inline constexpr size_t kDirEntrySize = 80;
inline constexpr size_t kNameSize = 64;
inline constexpr size_t kMaxNameLength = kNameSize - 1;  // room for the zero byte
inline constexpr std::array<char, 5> kMagic = {'K', 'e', 'l', 'R', 'F'};

// Header field offsets.
inline constexpr size_t kIdOffset = 0;
inline constexpr size_t kVersionOffset = 8;
inline constexpr size_t kDirEntriesOffset = 12;
inline constexpr size_t kDirOfsOffset = 16;
inline constexpr size_t kFileLenOffset = 20;

// Directory entry field offsets.
inline constexpr size_t kNameOffset = 0;
inline constexpr size_t kTypeOffset = 64;
inline constexpr size_t kOfsOffset = 68;
inline constexpr size_t kRawLenOffset = 72;
inline constexpr size_t kSizeOffset = 76;

// Type bits: the live flag and one storage-method bit.
inline constexpr int32_t kLive = 0x100;
inline constexpr int32_t kMethodNone = 0x001;
inline constexpr int32_t kMethodRle = 0x002;

// The name under which a compaction builds the new archive, in the
// archive's own folder. Adding never stores a file of this name: it can only
// be the leftover of a compaction that was stopped.
inline constexpr char kTempName[] = "xkrf1308.$$$";

// Largest offset or length the 32-bit fields can hold.
inline constexpr int64_t kMaxOffset = 0x7FFFFFFF;

struct krfheader_t {
  std::array<uint8_t, 8> ID{};  // "KelRF" and three alignment bytes, kept as read
  int32_t Version = 0;
  int32_t DirEntries = 0;
  int32_t DirOfs = 0;
  int32_t FileLen = 0;
};

struct krfdir_t {
  std::array<char, kNameSize> Name{};
  int32_t Type = 0;
  int32_t Ofs = 0;
  int32_t RawLen = 0;
  int32_t Size = 0;
};

// The header of a new, empty archive: the magic, zeros, the directory at 24.
krfheader_t NewHeader();

void EncodeHeader(const krfheader_t& header, uint8_t* out);  // kHeaderSize bytes
krfheader_t DecodeHeader(const uint8_t* in);
void EncodeDirEntry(const krfdir_t& entry, uint8_t* out);  // kDirEntrySize bytes
krfdir_t DecodeDirEntry(const uint8_t* in);

// The display word of a Type value: "deleted", "none", "RLE" or "unknown".
const char* method(int32_t type);

inline bool IsLive(int32_t type) { return (type & kLive) != 0; }

// The entry's name up to its zero byte (all 64 bytes when there is none).
std::string EntryName(const krfdir_t& entry);
// The same without a copy; valid while the entry is.
inline std::string_view NameView(const krfdir_t& entry) {
  size_t n = 0;
  while (n < kNameSize && entry.Name[n] != '\0') ++n;
  return std::string_view(entry.Name.data(), n);
}
bool NameTerminated(const krfdir_t& entry);
// Stores `name` (at most kMaxNameLength characters) and zeroes the rest.
void SetName(krfdir_t* entry, std::string_view name);

}  // namespace krf
