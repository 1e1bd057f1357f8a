#include "xkrf/krf_format.h"

#include <algorithm>
#include <cstring>

#include "host/byteorder.h"

namespace krf {

namespace {

// A record's 32-bit fields with their offsets, so that the encoder and the
// decoder of each record cannot disagree about one.
template <typename Record>
struct Field32 {
  size_t offset;
  int32_t Record::*member;
};

constexpr Field32<krfheader_t> kHeaderFields[] = {
    {kVersionOffset, &krfheader_t::Version},
    {kDirEntriesOffset, &krfheader_t::DirEntries},
    {kDirOfsOffset, &krfheader_t::DirOfs},
    {kFileLenOffset, &krfheader_t::FileLen},
};

constexpr Field32<krfdir_t> kEntryFields[] = {
    {kTypeOffset, &krfdir_t::Type},
    {kOfsOffset, &krfdir_t::Ofs},
    {kRawLenOffset, &krfdir_t::RawLen},
    {kSizeOffset, &krfdir_t::Size},
};

template <typename Record, size_t N>
void PutFields(const Record& r, const Field32<Record> (&fields)[N], uint8_t* out) {
  for (const Field32<Record>& f : fields) host::PutLE32s(out + f.offset, r.*f.member);
}

template <typename Record, size_t N>
void GetFields(const uint8_t* in, const Field32<Record> (&fields)[N], Record* r) {
  for (const Field32<Record>& f : fields) r->*f.member = host::GetLE32s(in + f.offset);
}

}  // namespace

krfheader_t NewHeader() {
  krfheader_t h;
  std::copy(kMagic.begin(), kMagic.end(), h.ID.begin());
  h.DirOfs = static_cast<int32_t>(kHeaderSize);
  return h;
}

void EncodeHeader(const krfheader_t& h, uint8_t* out) {
  std::copy(h.ID.begin(), h.ID.end(), out + kIdOffset);
  PutFields(h, kHeaderFields, out);
}

krfheader_t DecodeHeader(const uint8_t* in) {
  krfheader_t h;
  std::copy(in + kIdOffset, in + kIdOffset + h.ID.size(), h.ID.begin());
  GetFields(in, kHeaderFields, &h);
  return h;
}

void EncodeDirEntry(const krfdir_t& e, uint8_t* out) {
  std::memcpy(out + kNameOffset, e.Name.data(), kNameSize);
  PutFields(e, kEntryFields, out);
}

krfdir_t DecodeDirEntry(const uint8_t* in) {
  krfdir_t e;
  std::memcpy(e.Name.data(), in + kNameOffset, kNameSize);
  GetFields(in, kEntryFields, &e);
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
