// Loads the input as an archive and runs every reading action on it: the
// test, the listing and the extraction of every entry into the scratch
// folder; then deletes the entries whose file name begins with 'd', which
// compacts it. Besides the sanitizers' checks: every run ends with status 0,
// 1 or 2 (entries skipped), nothing is written outside the scratch folder, and a compaction that
// reports success leaves a finished archive.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "host/byteorder.h"
#include "xkrf/xkrf.h"

namespace {

constexpr char kInput[] = "in.krf";

int Xkrf(std::vector<const char*> args) {
  args.insert(args.begin(), "xkrf");
  const int status = xkrf::RunXkrf(static_cast<int>(args.size()), args.data(), krffuzz::NullFile());
  if (status != 0 && status != 1 && status != 2) {
    krffuzz::Finding("xkrf ended with status " + std::to_string(status));
  }
  return status;
}

// The layout every compaction leaves: the header of `before` with only the
// directory's place and count changed, data back to back from 24, only live
// entries (their other bits copied as found), the directory last.
void CheckCompacted(const uint8_t* before, const std::vector<uint8_t>& file) {
  auto fail = [](const std::string& why) { krffuzz::Finding("compacted archive: " + why); };
  if (file.size() < 24 || !std::equal(before, before + 12, file.begin()) ||
      !std::equal(before + 20, before + 24, file.begin() + 20)) {
    fail("header fields changed");
  }
  const int64_t entries = host::GetLE32s(file.data() + 12);
  const int64_t dir_ofs = host::GetLE32s(file.data() + 16);
  if (entries < 0 || dir_ofs < 24 || dir_ofs + 80 * entries != static_cast<int64_t>(file.size())) {
    fail("directory not at the end");
  }
  int64_t next = 24;
  for (int64_t i = 0; i < entries; ++i) {
    const uint8_t* e = file.data() + dir_ofs + 80 * i;
    const int32_t type = host::GetLE32s(e + 64);
    if ((type & 0x100) == 0) fail("entry " + std::to_string(i) + " is not live");
    if (host::GetLE32s(e + 68) != next) fail("entry " + std::to_string(i) + " offset");
    const int32_t size = host::GetLE32s(e + 76);
    if (size < 1) fail("entry " + std::to_string(i) + " size");
    next += size;
  }
  if (next != dir_ofs) fail("data does not end at the directory");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  krffuzz::EnterScratch(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  krffuzz::ClearScratch();
  krffuzz::WriteInput(kInput, data, size);
  Xkrf({"in", "-test"});
  Xkrf({"in", "-list"});
  Xkrf({"in", "*.*", "-subs", "-ext"});
  // Extraction may have replaced the input (an entry named in.krf is the
  // archive itself and must be skipped, but be sure): start from the input.
  krffuzz::ClearScratch();
  krffuzz::WriteInput(kInput, data, size);
  if (Xkrf({"in", "d*.*", "-subs", "-del"}) == 0) {
    std::vector<uint8_t> after;
    if (!krffuzz::ReadBack(kInput, &after)) krffuzz::Finding("the archive is gone after -del");
    // A run that deleted nothing does not rewrite the archive.
    if (after != std::vector<uint8_t>(data, data + size)) CheckCompacted(data, after);
  }
  return 0;
}
