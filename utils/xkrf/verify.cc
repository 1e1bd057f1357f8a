// The test action: checks every selected entry of an archive without
// changing anything, the way `unzip -t` checks a zip file.
#include <algorithm>
#include <cinttypes>
#include <optional>

#include "rle/run_length.h"
#include "xkrf/actions.h"
#include "xkrf/entry_path.h"
#include "xkrf/mask.h"

namespace xkrf {

namespace {

constexpr size_t kChunk = 1 << 20;

std::string Format(const char* fmt, int64_t a, int64_t b = 0) {
  char text[160];
  std::snprintf(text, sizeof text, fmt, a, b);
  return text;
}

// For each entry, the index of a live entry whose block overlaps its block,
// found with one sort: after sorting by offset, a block overlaps an earlier
// one exactly when it starts before the furthest end seen so far, and a
// later one exactly when the next block starts before its own end.
std::vector<std::optional<size_t>> FindOverlaps(const std::vector<krfdir_t>& dir) {
  std::vector<size_t> order;
  for (size_t i = 0; i < dir.size(); ++i) {
    if (dir[i].Size > 0) order.push_back(i);
  }
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return dir[a].Ofs != dir[b].Ofs ? dir[a].Ofs < dir[b].Ofs : a < b;
  });
  std::vector<std::optional<size_t>> partner(dir.size());
  auto end_of = [&](size_t i) { return int64_t{dir[i].Ofs} + dir[i].Size; };
  std::optional<size_t> furthest;  // the live block reaching furthest so far
  for (size_t k = 0; k < order.size(); ++k) {
    const size_t i = order[k];
    if (furthest && dir[i].Ofs < end_of(*furthest)) partner[i] = furthest;
    if (!partner[i] && k + 1 < order.size() && krf::IsLive(dir[order[k + 1]].Type) &&
        dir[order[k + 1]].Ofs < end_of(i)) {
      partner[i] = order[k + 1];
    }
    if (krf::IsLive(dir[i].Type) && (!furthest || end_of(i) > end_of(*furthest))) furthest = i;
  }
  return partner;
}

// The first problem of one entry, or "" when it is sound.
std::string Problem(RunState* st, const krfdir_t& e, std::optional<size_t> overlap,
                    std::vector<uint8_t>* chunk) {
  if (!krf::NameTerminated(e)) return "name without terminating zero";
  if (std::string path = EntryPathProblem(krf::NameView(e)); !path.empty()) return path;
  if (e.Type != (krf::kLive | krf::kMethodNone) && e.Type != (krf::kLive | krf::kMethodRle)) {
    return Format("type 0x%" PRIx64 " is not a live entry with one method",
                  static_cast<uint32_t>(e.Type));
  }
  if (e.Size < 1 || e.RawLen < 1)
    return Format("size %" PRId64 " or length %" PRId64 " below 1", e.Size, e.RawLen);
  const int64_t start = e.Ofs;
  const int64_t end = start + e.Size;
  if (start < static_cast<int64_t>(krf::kHeaderSize) || end > st->header.DirOfs) {
    return Format("block %" PRId64 "..%" PRId64 " outside the data area", start, end);
  }
  if (overlap) return "block overlaps the block of '" + krf::EntryName(st->dir[*overlap]) + "'";
  if ((e.Type & krf::kMethodNone) && e.Size != e.RawLen) {
    return Format("stored size %" PRId64 " differs from length %" PRId64, e.Size, e.RawLen);
  }
  rle::Scanner scanner;
  for (int64_t done = 0; done < e.Size;) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(e.Size - done, kChunk));
    if (!st->krf.ReadExactAt(start + done, chunk->data(), n)) return "block cannot be read";
    if (e.Type & krf::kMethodRle) scanner.Feed(chunk->data(), n);
    done += static_cast<int64_t>(n);
  }
  if (e.Type & krf::kMethodRle) {
    if (scanner.dangling()) return "RLE stream ends in a count byte";
    if (scanner.decoded() != e.RawLen) {
      return Format("RLE stream decodes to %" PRId64 " bytes, should be %" PRId64,
                    scanner.decoded(), e.RawLen);
    }
  }
  return "";
}

}  // namespace

void verify(RunState* st) {
  // The magic is what tells a KRF archive from any file that happens to
  // parse; the tool itself never reads it.
  if (!std::equal(krf::kMagic.begin(), krf::kMagic.end(), st->header.ID.begin())) {
    std::fputs("testing header... FAILED: no 'KelRF' magic\n", st->out);
    st->damaged = true;
  }
  const std::vector<std::optional<size_t>> overlaps = FindOverlaps(st->dir);
  std::vector<uint8_t> chunk(kChunk);
  int tested = 0, damaged = 0, deleted = 0;
  for (size_t i = 0; i < st->dir.size(); ++i) {
    const krfdir_t& e = st->dir[i];
    const std::string name = krf::EntryName(e);
    if (!yes_mask(st->settings, name)) continue;
    std::fprintf(st->out, "testing %s...", name.c_str());
    ShowProgress(st);
    ++tested;
    // Flagged deleted, as a compaction cut short leaves entries: every
    // reader passes them by, and the next compaction drops them.
    if (e.Type == krf::kMethodNone || e.Type == krf::kMethodRle) {
      std::fputs(" deleted\n", st->out);
      ++deleted;
      continue;
    }
    const std::string problem = Problem(st, e, overlaps[i], &chunk);
    if (problem.empty()) {
      std::fputs(" ok\n", st->out);
    } else {
      std::fprintf(st->out, " FAILED: %s\n", problem.c_str());
      ++damaged;
    }
  }
  std::fprintf(st->out, "%d entries tested, %d sound, %d damaged", tested,
               tested - damaged - deleted, damaged);
  if (deleted > 0) std::fprintf(st->out, ", %d deleted", deleted);
  std::fputs("\n", st->out);
  st->progressed = tested;
  if (damaged > 0) st->damaged = true;
}

}  // namespace xkrf
