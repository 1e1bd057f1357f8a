#include "xkrf/krf_format.h"

#include <algorithm>
#include <cstring>

#include "host/byteorder.h"

namespace krf {

using host::GetLE32s;
using host::PutLE32s;

krfheader_t NewHeader() {
  krfheader_t h;
  std::copy(kMagic.begin(), kMagic.end(), h.ID.begin());
  h.DirOfs = static_cast<int32_t>(kHeaderSize);
  return h;
}

void EncodeHeader(const krfheader_t& h, uint8_t* out) {
  std::copy(h.ID.begin(), h.ID.end(), out + kIdOffset);
  PutLE32s(out + kVersionOffset, h.Version);
  PutLE32s(out + kDirEntriesOffset, h.DirEntries);
  PutLE32s(out + kDirOfsOffset, h.DirOfs);
  PutLE32s(out + kFileLenOffset, h.FileLen);
}

krfheader_t DecodeHeader(const uint8_t* in) {
  krfheader_t h;
  std::copy(in + kIdOffset, in + kIdOffset + h.ID.size(), h.ID.begin());
  h.Version = GetLE32s(in + kVersionOffset);
  h.DirEntries = GetLE32s(in + kDirEntriesOffset);
  h.DirOfs = GetLE32s(in + kDirOfsOffset);
  h.FileLen = GetLE32s(in + kFileLenOffset);
  return h;
}

void EncodeDirEntry(const krfdir_t& e, uint8_t* out) {
  std::memcpy(out + kNameOffset, e.Name.data(), kNameSize);
  PutLE32s(out + kTypeOffset, e.Type);
  PutLE32s(out + kOfsOffset, e.Ofs);
  PutLE32s(out + kRawLenOffset, e.RawLen);
  PutLE32s(out + kSizeOffset, e.Size);
}

krfdir_t DecodeDirEntry(const uint8_t* in) {
  krfdir_t e;
  std::memcpy(e.Name.data(), in + kNameOffset, kNameSize);
  e.Type = GetLE32s(in + kTypeOffset);
  e.Ofs = GetLE32s(in + kOfsOffset);
  e.RawLen = GetLE32s(in + kRawLenOffset);
  e.Size = GetLE32s(in + kSizeOffset);
  return e;
}

const char* method(int32_t type) {
  if ((type & kLive) == 0) return "deleted";
  if (type & kMethodNone) return "none";
  if (type & kMethodRle) return "RLE";
  return "unknown";
}

std::string EntryName(const krfdir_t& e) { return std::string(NameView(e)); }

bool NameTerminated(const krfdir_t& e) {
  return std::find(e.Name.begin(), e.Name.end(), '\0') != e.Name.end();
}

void SetName(krfdir_t* e, std::string_view name) {
  e->Name.fill('\0');
  std::copy_n(name.begin(), std::min(name.size(), kMaxNameLength), e->Name.begin());
}

}  // namespace krf
