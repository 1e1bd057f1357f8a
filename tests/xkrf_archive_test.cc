// The tests' own archive reader, writer and RLE codec, and the proof that
// the invariant check rejects what it must (a checker that accepts anything
// would make every round-trip test pass vacuously).
#include "xkrf_archive.h"

#include <functional>
#include <map>
#include <set>

#include "rle_reference.h"

namespace xkrf_test {

int32_t GetLe32(const Bytes& bytes, size_t offset) {
  const uint32_t v = static_cast<uint32_t>(bytes[offset]) |
                     (static_cast<uint32_t>(bytes[offset + 1]) << 8) |
                     (static_cast<uint32_t>(bytes[offset + 2]) << 16) |
                     (static_cast<uint32_t>(bytes[offset + 3]) << 24);
  return static_cast<int32_t>(v);
}

void PutLe32(Bytes* bytes, size_t offset, int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) (*bytes)[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<std::string> Archive::Names() const {
  std::vector<std::string> names;
  for (const Entry& e : entries) names.push_back(e.name);
  return names;
}

const Entry* Archive::Find(const std::string& name) const {
  for (const Entry& e : entries) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

Bytes Archive::Stored(const Entry& entry) const {
  if (entry.ofs < 0 || entry.size < 0 ||
      static_cast<uint64_t>(entry.ofs) + static_cast<uint64_t>(entry.size) > file.size()) {
    return {};
  }
  return Bytes(file.begin() + entry.ofs, file.begin() + entry.ofs + entry.size);
}

Bytes Archive::Content(const Entry& entry) const {
  Bytes stored = Stored(entry);
  if ((entry.type & kRle) == 0) return stored;
  Bytes out;
  DecodeRle(stored, &out);
  return out;
}

bool ParseArchive(const Bytes& file, Archive* out, std::string* why) {
  if (file.size() < kHeaderSize) {
    *why = "shorter than the header";
    return false;
  }
  out->file = file;
  out->head.assign(file.begin(), file.begin() + kHeaderSize);
  out->version = GetLe32(file, 8);
  out->dir_entries = GetLe32(file, 12);
  out->dir_ofs = GetLe32(file, 16);
  out->file_len = GetLe32(file, 20);
  if (out->dir_entries < 0 || out->dir_ofs < 0) {
    *why = "negative DirEntries or DirOfs";
    return false;
  }
  const uint64_t dir_end =
      static_cast<uint64_t>(out->dir_ofs) + kEntrySize * static_cast<uint64_t>(out->dir_entries);
  if (dir_end > file.size()) {
    *why = "directory beyond the end of the file";
    return false;
  }
  out->entries.clear();
  for (int32_t i = 0; i < out->dir_entries; ++i) {
    const size_t at = static_cast<size_t>(out->dir_ofs) + kEntrySize * static_cast<size_t>(i);
    Entry e;
    size_t len = 0;
    while (len < kNameField && file[at + len] != 0) ++len;
    e.terminated = len < kNameField;
    e.name.assign(reinterpret_cast<const char*>(&file[at]), len);
    e.type = GetLe32(file, at + kTypeField);
    e.ofs = GetLe32(file, at + kOfsField);
    e.raw_len = GetLe32(file, at + kRawLenField);
    e.size = GetLe32(file, at + kSizeField);
    out->entries.push_back(e);
  }
  return true;
}

Archive LoadArchive(const std::string& path) {
  Archive archive;
  std::string why;
  if (!ParseArchive(e2e::ReadFile(path), &archive, &why)) {
    ADD_FAILURE() << path << ": " << why;
  }
  return archive;
}

namespace {

// Name field rules: terminated, at most 63 characters, zero behind.
void CheckNameField(const Bytes& file, size_t at, size_t index, std::vector<std::string>* bad) {
  size_t len = 0;
  while (len < kNameField && file[at + len] != 0) ++len;
  if (len == kNameField) {
    bad->push_back("entry " + std::to_string(index) + ": name without zero byte");
    return;
  }
  for (size_t i = len; i < kNameField; ++i) {
    if (file[at + i] != 0) {
      bad->push_back("entry " + std::to_string(index) + ": bytes behind the name not zero");
      return;
    }
  }
}

std::vector<std::string> Violations(const Archive& a, bool zero_padding) {
  std::vector<std::string> bad;
  const std::string magic(a.head.begin(), a.head.begin() + 5);
  if (magic != "KelRF") bad.push_back("magic is '" + magic + "'");
  if (zero_padding && (a.head[5] != 0 || a.head[6] != 0 || a.head[7] != 0)) {
    bad.push_back("alignment bytes not zero");
  }
  if (a.dir_ofs < static_cast<int32_t>(kHeaderSize)) bad.push_back("DirOfs below 24");
  const uint64_t expected_len = static_cast<uint64_t>(a.dir_ofs) + kEntrySize * a.entries.size();
  if (expected_len != a.file.size()) {
    bad.push_back("file length " + std::to_string(a.file.size()) + ", expected " +
                  std::to_string(expected_len));
  }
  int64_t next = static_cast<int64_t>(kHeaderSize);
  std::set<std::string> names;
  for (size_t i = 0; i < a.entries.size(); ++i) {
    const Entry& e = a.entries[i];
    const std::string where = "entry " + std::to_string(i) + " '" + e.name + "': ";
    CheckNameField(a.file, static_cast<size_t>(a.dir_ofs) + kEntrySize * i, i, &bad);
    if (e.ofs != next) {
      bad.push_back(where + "Ofs " + std::to_string(e.ofs) + ", expected " + std::to_string(next));
    }
    next = static_cast<int64_t>(e.ofs) + e.size;
    if (e.type != (kLive | kNone) && e.type != (kLive | kRle)) {
      bad.push_back(where + "Type " + std::to_string(e.type));
    }
    if (!names.insert(e.name).second) bad.push_back(where + "name twice");
    if (e.size < 1 || e.raw_len < 1) bad.push_back(where + "empty");
    if (e.type == (kLive | kNone) && e.size != e.raw_len) bad.push_back(where + "Size != RawLen");
    if (e.type == (kLive | kRle)) {
      if (e.size >= e.raw_len) bad.push_back(where + "RLE not shorter than the file");
      Bytes decoded;
      const Bytes stored = a.Stored(e);
      if (!DecodeRle(stored, &decoded) || static_cast<int64_t>(decoded.size()) != e.raw_len) {
        bad.push_back(where + "RLE stream does not decode to RawLen bytes");
      } else if (EncodeRle(decoded) != stored) {
        bad.push_back(where + "RLE stream is not the greedy encoding");
      }
    }
  }
  if (a.dir_ofs != next) {
    bad.push_back("DirOfs " + std::to_string(a.dir_ofs) + ", data ends at " + std::to_string(next));
  }
  return bad;
}

}  // namespace

::testing::AssertionResult IsFinishedArchive(const std::string& path, bool zero_padding) {
  Archive archive;
  std::string why;
  if (!e2e::Exists(path)) return ::testing::AssertionFailure() << path << " is missing";
  if (!ParseArchive(e2e::ReadFile(path), &archive, &why)) {
    return ::testing::AssertionFailure() << path << ": " << why;
  }
  const std::vector<std::string> bad = Violations(archive, zero_padding);
  if (bad.empty()) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure();
  failure << path << ":";
  for (const std::string& b : bad) failure << "\n  " << b;
  return failure;
}

Bytes EncodeRle(const Bytes& raw) { return rle_reference::Encode(raw); }

bool DecodeRle(const Bytes& stream, Bytes* out) {
  return rle_reference::Decode(stream.data(), stream.size(), out);
}

Bytes BuildArchive(const std::vector<Crafted>& entries, int32_t version, int32_t file_len) {
  Bytes file(kHeaderSize, 0);
  const std::string magic = "KelRF";
  std::copy(magic.begin(), magic.end(), file.begin());
  for (const Crafted& c : entries) file.insert(file.end(), c.stored.begin(), c.stored.end());
  const int32_t dir_ofs = static_cast<int32_t>(file.size());
  int32_t ofs = static_cast<int32_t>(kHeaderSize);
  for (const Crafted& c : entries) {
    const size_t at = file.size();
    file.resize(at + kEntrySize, 0);
    std::copy(c.name.begin(), c.name.begin() + std::min(c.name.size(), kNameField),
              file.begin() + static_cast<std::ptrdiff_t>(at));
    PutLe32(&file, at + kTypeField, c.type);
    PutLe32(&file, at + kOfsField, ofs);
    const int32_t size = static_cast<int32_t>(c.stored.size());
    PutLe32(&file, at + kRawLenField, c.raw_len < 0 ? size : c.raw_len);
    PutLe32(&file, at + kSizeField, size);
    ofs += size;
  }
  PutLe32(&file, 8, version);
  PutLe32(&file, 12, static_cast<int32_t>(entries.size()));
  PutLe32(&file, 16, dir_ofs);
  PutLe32(&file, 20, file_len);
  return file;
}

void PatchEntry(Bytes* file, size_t index, int field_offset, int32_t value) {
  const size_t at = static_cast<size_t>(GetLe32(*file, 16)) + kEntrySize * index +
                    static_cast<size_t>(field_offset);
  PutLe32(file, at, value);
}

namespace {

Bytes Hex(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

TEST(XkrfTestArchive, EncoderFollowsTheStoredStreamRules) {
  const Bytes c0_to_ff = [] {
    Bytes b;
    for (int v = 0xC0; v <= 0xFF; ++v) b.push_back(static_cast<uint8_t>(v));
    return b;
  }();
  Bytes doubled;
  for (uint8_t v : c0_to_ff) doubled.insert(doubled.end(), {0xC1, v});
  const struct {
    Bytes raw;
    Bytes encoded;
  } cases[] = {
      {Hex({0x41}), Hex({0x41})},
      {Hex({0x41, 0x41}), Hex({0xC2, 0x41})},
      {Hex({0xC0}), Hex({0xC1, 0xC0})},
      {Hex({0xFF, 0xFF}), Hex({0xC2, 0xFF})},
      {Bytes(64, 0), Hex({0xFF, 0, 0})},
      {Bytes(127, 7), Hex({0xFF, 7, 0xFF, 7, 7})},
      {Bytes(130, 7), Hex({0xFF, 7, 0xFF, 7, 0xC4, 7})},
      {c0_to_ff, doubled},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeRle(c.raw), c.encoded);
    Bytes back;
    EXPECT_TRUE(DecodeRle(c.encoded, &back));
    EXPECT_EQ(back, c.raw);
  }
  Bytes out;
  EXPECT_FALSE(DecodeRle(Hex({0x41, 0xC3}), &out));
  EXPECT_EQ(out, Hex({0x41}));
}

TEST(XkrfTestArchive, CheckerRejectsEveryBrokenInvariant) {
  e2e::ScratchDir dir;
  const Bytes runny(100, 'a');
  const std::vector<Crafted> good = {{"a.bin", kLive | kNone, e2e::RandomBytes(10, 1)},
                                     {"b.bin", kLive | kRle, EncodeRle(runny), 100}};
  e2e::WriteFile(dir / "good.krf", BuildArchive(good));
  ASSERT_TRUE(IsFinishedArchive(dir / "good.krf"));

  const std::map<std::string, std::function<void(Bytes*)>> damage = {
      {"magic", [](Bytes* f) { (*f)[0] = 'k'; }},
      {"padding", [](Bytes* f) { (*f)[6] = 1; }},
      {"trailing byte", [](Bytes* f) { f->push_back(0); }},
      {"deleted", [](Bytes* f) { PatchEntry(f, 0, kTypeField, kNone); }},
      {"method bits", [](Bytes* f) { PatchEntry(f, 0, kTypeField, kLive | 3); }},
      {"offset", [](Bytes* f) { PatchEntry(f, 1, kOfsField, 33); }},
      {"none size", [](Bytes* f) { PatchEntry(f, 0, kRawLenField, 11); }},
      {"rle length", [](Bytes* f) { PatchEntry(f, 1, kRawLenField, 99); }},
      {"same name", [](Bytes* f) { (*f)[GetLe32(*f, 16) + kEntrySize] = 'a'; }},
      {"name tail", [](Bytes* f) { (*f)[GetLe32(*f, 16) + 40] = 'x'; }},
  };
  for (const auto& [what, change] : damage) {
    Bytes file = BuildArchive(good);
    change(&file);
    e2e::WriteFile(dir / "bad.krf", file);
    EXPECT_FALSE(IsFinishedArchive(dir / "bad.krf")) << what;
  }
}

}  // namespace
}  // namespace xkrf_test
