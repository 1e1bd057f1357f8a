#include "xkrf/add.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <deque>
#include <unordered_map>
#include <utility>

#include "about/ascii.h"
#include "host/dir_search.h"
#include "xkrf/add_pipeline.h"
#include "xkrf/archive.h"
#include "xkrf/entry_path.h"

namespace xkrf {

namespace {

constexpr int64_t kChunk = 1 << 20;
// Small enough that the bytes gathered are still in the processor's cache
// when the system copies them out.
constexpr size_t kWriteBuffer = size_t{64} << 10;

// One step of an add run. The whole walk is planned before the first byte is
// written: the planned sizes bound how far new data can reach, which decides
// where the directory is safe meanwhile.
struct AddStep {
  enum Kind { kFile, kEnter, kLeave, kNote, kSkip };
  Kind kind;
  std::string text;     // kEnter, kLeave: the folder's name; kNote, kSkip: the message
  std::string fs_path;  // kFile: the file on the host
  std::string stored;   // kFile: the entry's name
  std::string shown;    // kFile: the name in the "adding" line
  int64_t size = 0;     // kFile: the length the search reported
};

class Planner {
 public:
  explicit Planner(const RunState& st) : st_(st), rle_(st.settings.compress == krf::kMethodRle) {
    st.krf.Identity(&archive_device_, &archive_inode_);
  }

  void Walk(const std::string& fs_dir, const std::string& prefix, int level,
            const std::string& pattern, const std::vector<host::DirEntry>& entries) {
    for (const host::DirEntry& e : entries) {
      if (e.is_dir) {
        if (!st_.settings.subdirs || e.name[0] == '.' || e.is_link) continue;
        const std::string sub = fs_dir + e.name + "/";
        std::vector<host::DirEntry> below;
        if (!host::ListDirectory(sub, &below)) {
          Add(AddStep::kSkip, "Cannot read sub-directory '" + e.name + "', skipping !\n");
          continue;
        }
        Add(AddStep::kEnter, e.name);
        Walk(sub, prefix + e.name + "\\", level + 1, pattern, below);
        Add(AddStep::kLeave, e.name);
        continue;
      }
      if (!host::WildcardMatch(pattern, e.name)) continue;
      // What a stopped compaction left behind is never the user's data.
      if (about::EqualsIgnoreCase(e.name, krf::kTempName)) continue;
      const std::string lower = about::AsciiLower(e.name);
      std::string dropped;
      const std::string stored = StoredName(prefix + lower, &dropped);
      if (!dropped.empty() && !told_dropped_) {
        Add(AddStep::kNote, "stripping leading '" + dropped + "' from stored names...\n");
        told_dropped_ = true;
      }
      const std::string fs_path = fs_dir + e.name;
      const auto taken = planned_.find(stored);
      if (stored.size() > krf::kMaxNameLength) {
        Add(AddStep::kSkip, "skipping '" + stored + "': stored name longer than " +
                                std::to_string(krf::kMaxNameLength) + " characters !\n");
      } else if (e.device == archive_device_ && e.inode == archive_inode_) {
        Add(AddStep::kNote, "skipping '" + stored + "': it is the archive itself !\n");
      } else if (e.size == 0) {
        // The format has no empty entry.
        Add(AddStep::kSkip, "skipping '" + stored + "': empty file !\n");
      } else if (taken != planned_.end()) {
        Add(AddStep::kSkip, "skipping '" + fs_path + "': stored under the same name as '" +
                                taken->second + "' !\n");
      } else if (TooLarge(e.size)) {
        Add(AddStep::kSkip, "skipping '" + stored + "': the archive would grow beyond 2 GiB !\n");
      } else {
        planned_.emplace(stored, fs_path);
        steps_.push_back(
            {AddStep::kFile, "", fs_path, stored, level == 0 ? stored : lower, e.size});
        reach_ += e.size;
        ++files_;
      }
    }
  }

  const std::deque<AddStep>& steps() const { return steps_; }
  int64_t reach() const { return reach_; }
  int64_t files() const { return files_; }

 private:
  void Add(AddStep::Kind kind, std::string text) {
    steps_.push_back({kind, std::move(text), "", "", "", 0});
  }

  // Stored as it is, a file takes its whole length in the archive; encoded it
  // may take far less, which only encoding tells (single_add checks while it
  // writes). Either way its length must fit the entry's 32-bit field.
  bool TooLarge(int64_t size) const {
    if (size > krf::kMaxOffset) return true;
    return !rle_ && st_.last_pos + reach_ + size > DataLimit(st_, files_ + 1);
  }

  const RunState& st_;
  const bool rle_;
  // Never moved as it grows: ten thousand files would otherwise touch
  // their steps' memory about twice.
  std::deque<AddStep> steps_;
  // Names stored by this run, with the file each came from: a second file
  // of the same stored name would silently replace the first.
  std::unordered_map<std::string, std::string> planned_;
  bool told_dropped_ = false;
  int64_t reach_ = 0;  // the sum of the planned files' lengths
  int64_t files_ = 0;
  uint64_t archive_device_ = 0;
  uint64_t archive_inode_ = 0;
};

// The data blocks of a run go through one buffer into the archive, so that
// many small files cost one write per buffer rather than one each. The
// blocks reach the disk at the latest when add() ends, before the directory
// that refers to them is written.
class Appender {
 public:
  // Data may reach up to `limit` (DataLimit), never beyond.
  Appender(host::File* file, int64_t pos, int64_t limit)
      : file_(file), flushed_end_(pos), limit_(limit) {}

  int64_t end() const { return flushed_end_ + static_cast<int64_t>(used_); }
  bool Fits(size_t n) const { return end() + static_cast<int64_t>(n) <= limit_; }

  void Write(const uint8_t* data, size_t n) {
    if (buffer_.size() - used_ < n) Flush();
    if (n >= buffer_.size()) {
      test(file_->WriteAt(flushed_end_, data, n));
      flushed_end_ += static_cast<int64_t>(n);
      return;
    }
    std::memcpy(buffer_.data() + used_, data, n);
    used_ += n;
  }

  // Drops everything written from `pos` on; later writes continue there.
  void Rewind(int64_t pos) {
    if (pos >= flushed_end_) {
      used_ = static_cast<size_t>(pos - flushed_end_);
    } else {
      used_ = 0;
      flushed_end_ = pos;
    }
  }

  void Flush() {
    if (used_ > 0) test(file_->WriteAt(flushed_end_, buffer_.data(), used_));
    flushed_end_ += static_cast<int64_t>(used_);
    used_ = 0;
  }

 private:
  host::File* file_;
  int64_t flushed_end_;
  int64_t limit_;
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(kWriteBuffer);
  size_t used_ = 0;
};

// The writer's side of an add run: the archive's output buffer and the
// pieces the reader thread has made of the files, taken in order.
struct AddBuffers {
  AddBuffers(RunState* st, int64_t limit, std::vector<PipelineFile> files)
      : out(&st->krf, st->last_pos, limit),
        pieces(std::move(files), st->settings.compress == krf::kMethodRle, kChunk) {}

  // The next piece of the file being added; a failed open or read ends
  // the run here, as it would have where the read was made.
  Piece Take() {
    const Piece p = pieces.Next();
    file_done = p.last;
    if (p.kind == Piece::kOpenFailed) throw Fatal("\nCould not open input file...!\n");
    test(p.kind != Piece::kReadFailed);
    return p;
  }
  // Passes over what is left of a file given up on.
  void Drop() {
    while (!file_done) file_done = pieces.Next().last;
  }

  Appender out;
  AddPipeline pieces;
  bool file_done = true;
};

// What the store functions return when the block would pass the data limit.
constexpr int64_t kBeyondLimit = -2;

// Copies the file into the archive as it is, at most `limit` bytes; `first`
// is its first piece when that is taken already. Returns the count copied,
// or kBeyondLimit.
int64_t StoreRaw(RunState* st, int64_t limit, AddBuffers* buffers, const Piece* first) {
  int64_t done = 0;
  while (done < limit) {
    const Piece p = first != nullptr ? *std::exchange(first, nullptr) : buffers->Take();
    if (p.size == 0) break;
    if (!buffers->out.Fits(p.size)) return kBeyondLimit;
    buffers->out.Write(p.data, p.size);
    done += static_cast<int64_t>(p.size);
    ShowProgress(st);
  }
  return done;
}

// Encodes the file straight into the archive. Returns the encoded length, or
// -1 as soon as it is clear that the encoded form cannot end up shorter than
// the file (nothing is ever written at or beyond the block's start +
// limit), or kBeyondLimit. `*raw_length` receives the count of file bytes
// read.
int64_t StoreRle(RunState* st, int64_t limit, AddBuffers* buffers, Piece p, int64_t* raw_length) {
  int64_t read = 0, written = 0;
  for (;; p = buffers->Take()) {
    read += static_cast<int64_t>(p.raw_size);
    if (!RlePays(written + static_cast<int64_t>(p.size), limit)) return -1;
    if (!buffers->out.Fits(p.size)) return kBeyondLimit;
    buffers->out.Write(p.data, p.size);
    written += static_cast<int64_t>(p.size);
    ShowProgress(st);
    if (p.kind == Piece::kFinish) break;
  }
  *raw_length = read;
  return RlePays(written, read) ? written : -1;
}

// Stores the file behind the data and describes it in `*entry`. False when
// its block would take the archive beyond what the header's offsets reach:
// the file is then skipped and nothing of it kept.
bool single_add(RunState* st, const AddStep& step, krfdir_t* entry, AddBuffers* buffers) {
  std::fprintf(st->out, "adding '%s'", step.shown.c_str());
  ShowProgress(st);
  // Only what is read is stored, at most the length the search reported: a
  // file that changed since then still gives a sound entry.
  const Piece first = buffers->Take();

  *entry = krfdir_t{};
  krf::SetName(entry, step.stored);
  entry->Ofs = static_cast<int32_t>(st->last_pos);
  int64_t raw_length = 0;
  int64_t size = -1;
  const bool rle = st->settings.compress == krf::kMethodRle;
  if (rle) {
    std::fputs(", encoding RLE...", st->out);
    ShowProgress(st);
    size = StoreRle(st, step.size, buffers, first, &raw_length);
    if (size < 0) buffers->out.Rewind(st->last_pos);
  }
  if (size >= 0) {
    entry->Type = krf::kMethodRle;
  } else if (size != kBeyondLimit) {
    // Encoding did not pay: the stored block is the file itself.
    raw_length = StoreRaw(st, step.size, buffers, rle ? nullptr : &first);
    size = raw_length;
    entry->Type = krf::kMethodNone;
  }
  buffers->Drop();
  if (size == kBeyondLimit) {
    buffers->out.Rewind(st->last_pos);
    std::fputs("\n", st->out);
    Skip(st, "skipping '" + step.stored + "': the archive would grow beyond 2 GiB !\n");
    return false;
  }
  test(raw_length > 0);
  entry->RawLen = static_cast<int32_t>(raw_length);
  entry->Size = static_cast<int32_t>(size);
  st->last_pos += size;
  entry->Type |= krf::kLive;
  std::fputs("\n", st->out);
  return true;
}

void AddFile(RunState* st, const AddStep& step, AddBuffers* buffers) {
  const auto found = st->live_index.find(step.stored);
  krfdir_t entry;
  if (!single_add(st, step, &entry, buffers)) return;
  st->dir_changed = true;
  ++st->progressed;
  if (found == st->live_index.end()) {
    st->live_index.emplace(step.stored, st->dir.size());
    st->dir.push_back(entry);
    return;
  }
  st->need_upd = true;
  krfdir_t& old = st->dir[found->second];
  // The new data has gone to a new block at the end of the data either
  // way; only the directory slot is decided here. The entry keeps its
  // place in the directory unless its old block is larger than the file's
  // length (before encoding): then the old entry is flagged deleted and the
  // file takes a new slot at the end. The old block stays as dead space
  // until the compaction that ends this run (need_upd).
  if (old.Size <= step.size) {
    old = entry;
    return;
  }
  old.Type &= ~krf::kLive;
  found->second = st->dir.size();
  st->dir.push_back(entry);
}

}  // namespace

void add(RunState* st) {
  st->live_index.reserve(st->dir.size());
  for (size_t i = 0; i < st->dir.size(); ++i) {
    if (krf::IsLive(st->dir[i].Type)) st->live_index.emplace(krf::EntryName(st->dir[i]), i);
  }
  const Settings& s = st->settings;
  const std::string pattern = s.name[1].substr(s.mask_path.size());
  const std::string top =
      s.mask_path.empty() ? std::string() : host::ResolvePath(HostPath(s.mask_path));
  std::vector<host::DirEntry> entries;
  Planner planner(*st);
  if (host::ListDirectory(top, &entries)) planner.Walk(top, s.mask_path, 0, pattern, entries);

  // New data stops at the limit; the directory copy goes beyond what it can
  // reach.
  const int64_t limit = DataLimit(*st, planner.files());
  std::vector<PipelineFile> files;
  for (const AddStep& step : planner.steps()) {
    if (step.kind == AddStep::kFile) files.push_back({step.fs_path, step.size});
  }
  // The reader starts before anything on disk changes, so a run that
  // cannot start it changes nothing.
  AddBuffers buffers(st, limit, std::move(files));
  ProtectDirectory(st, std::min(planner.reach(), std::max<int64_t>(0, limit - st->last_pos)));
  for (const AddStep& step : planner.steps()) {
    switch (step.kind) {
      case AddStep::kEnter:
        std::fprintf(st->out, "Entering sub-directory '%s'...\n", step.text.c_str());
        break;
      case AddStep::kLeave:
        std::fprintf(st->out, "Leaving sub-directory '%s'...\n", step.text.c_str());
        break;
      case AddStep::kNote:
        std::fputs(step.text.c_str(), st->out);
        break;
      case AddStep::kSkip:
        Skip(st, step.text);
        break;
      case AddStep::kFile:
        AddFile(st, step, &buffers);
        break;
    }
  }
  buffers.out.Flush();
}

}  // namespace xkrf
