#include "xkrf/add.h"

#include <algorithm>
#include <cstring>
#include <cinttypes>
#include <utility>

#include "host/dir_search.h"
#include "mixed/mixed.h"
#include "xkrf/archive.h"

namespace xkrf {

namespace {

constexpr int64_t kChunk = 1 << 20;

// One step of an add run. The whole walk is planned before the first byte is
// written: the planned sizes bound how far new data can reach, which decides
// where the directory is safe meanwhile.
struct AddStep {
  enum Kind { kFile, kEnter, kLeave, kNote };
  Kind kind;
  std::string text;     // kEnter, kLeave: the folder's name; kNote: the message
  std::string fs_path;  // kFile: the file on the host
  std::string stored;   // kFile: the entry's name
  std::string shown;    // kFile: the name in the "adding" line
  int64_t size = 0;     // kFile: the length the search reported
};

class Planner {
 public:
  explicit Planner(const RunState& st) : st_(st) {
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
          Note("Cannot read sub-directory '" + e.name + "', skipping !\n");
          continue;
        }
        steps_.push_back({AddStep::kEnter, e.name, "", "", "", 0});
        Walk(sub, prefix + e.name + "\\", level + 1, pattern, below);
        steps_.push_back({AddStep::kLeave, e.name, "", "", "", 0});
        continue;
      }
      if (!host::WildcardMatch(pattern, e.name)) continue;
      const std::string lower = host::AsciiLower(e.name);
      const std::string stored = prefix + lower;
      if (stored.size() > krf::kMaxNameLength) {
        Note("skipping '" + stored + "': stored name longer than 63 characters !\n");
      } else if (e.device == archive_device_ && e.inode == archive_inode_) {
        Note("skipping '" + stored + "': it is the archive itself !\n");
      } else if (FurthestWrite(st_, reach_ + e.size, files_ + 1) > krf::kMaxOffset) {
        Note("skipping '" + stored + "': the archive would grow beyond 2 GiB !\n");
      } else {
        steps_.push_back({AddStep::kFile, "", fs_dir + e.name, stored,
                          level == 0 ? stored : lower, e.size});
        reach_ += e.size;
        ++files_;
      }
    }
  }

  std::vector<AddStep>& steps() { return steps_; }
  int64_t reach() const { return reach_; }

 private:
  void Note(std::string text) { steps_.push_back({AddStep::kNote, std::move(text), "", "", "", 0}); }

  const RunState& st_;
  std::vector<AddStep> steps_;
  int64_t reach_ = 0;  // the sum of the planned files' lengths
  int64_t files_ = 0;
  uint64_t archive_device_ = 0;
  uint64_t archive_inode_ = 0;
};

// The data blocks of a run go through one buffer into the archive, so that
// many small files cost one write per megabyte rather than one each. The
// blocks reach the disk at the latest when add() ends, before the directory
// that refers to them is written.
class Appender {
 public:
  Appender(host::File* file, int64_t pos) : file_(file), flushed_end_(pos) {}

  int64_t end() const { return flushed_end_ + static_cast<int64_t>(used_); }

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
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(kChunk);
  size_t used_ = 0;
};

// Buffers reused from file to file, so memory stays bounded whatever the
// files' sizes and fresh pages are not touched for every file.
struct AddBuffers {
  explicit AddBuffers(RunState* st) : out(&st->krf, st->last_pos) {}
  std::vector<uint8_t> chunk = std::vector<uint8_t>(kChunk);
  std::vector<uint8_t> encoded = std::vector<uint8_t>(mixed::RleEncoder::MaxOutput(kChunk));
  Appender out;
};

// Reads the piece of the file at `offset` into the chunk buffer, at most
// `limit` - `offset` bytes; `*preloaded` bytes of the first piece are in
// the buffer already. Returns the count, 0 at the end.
size_t NextPiece(const host::File& input, int64_t offset, int64_t limit, AddBuffers* buffers,
                 size_t* preloaded) {
  if (*preloaded > 0) return std::exchange(*preloaded, 0);
  size_t got = 0;
  const size_t want = static_cast<size_t>(std::min<int64_t>(limit - offset, kChunk));
  if (want > 0) test(input.ReadAt(offset, buffers->chunk.data(), want, &got));
  return got;
}

// Copies the file into the archive as it is, reading at most `limit` bytes.
// Returns the count copied.
int64_t StoreRaw(const host::File& input, int64_t limit, AddBuffers* buffers, size_t preloaded) {
  int64_t done = 0;
  while (done < limit) {
    const size_t got = NextPiece(input, done, limit, buffers, &preloaded);
    if (got == 0) break;
    buffers->out.Write(buffers->chunk.data(), got);
    done += static_cast<int64_t>(got);
  }
  return done;
}

// Encodes the file straight into the archive. Returns the encoded length, or
// -1 as soon as it is clear that the encoded form cannot end up shorter than
// the file; nothing is ever written at or beyond the block's start + limit.
// `*raw_length` receives the count of file bytes read, `*still_loaded` the
// count of them still in the chunk buffer from the file's start.
int64_t StoreRle(const host::File& input, int64_t limit, AddBuffers* buffers, size_t preloaded,
                 int64_t* raw_length, size_t* still_loaded) {
  mixed::RleEncoder encoder;
  int64_t read = 0, written = 0;
  int pieces = 0;
  uint8_t* const encoded = buffers->encoded.data();
  for (;;) {
    const size_t got = NextPiece(input, read, limit, buffers, &preloaded);
    size_t produced;
    if (got == 0) {
      produced = encoder.Finish(encoded);
    } else {
      produced = encoder.Feed(buffers->chunk.data(), got, encoded);
      read += static_cast<int64_t>(got);
      ++pieces;
    }
    *still_loaded = pieces == 1 ? static_cast<size_t>(read) : 0;
    // The file read so far is at most `limit` long: output that reaches
    // `limit` can no longer be shorter.
    if (written + static_cast<int64_t>(produced) >= limit) return -1;
    buffers->out.Write(encoded, produced);
    written += static_cast<int64_t>(produced);
    if (got == 0) break;
  }
  *raw_length = read;
  return written < read ? written : -1;
}

void single_add(RunState* st, const AddStep& step, size_t dir_num, AddBuffers* buffers) {
  std::fprintf(st->out, "adding '%s'", step.shown.c_str());
  ShowProgress(st);
  host::File input;
  if (!input.Open(step.fs_path, host::File::Mode::kReadListed)) {
    throw Fatal("\nCould not open input file...!\n");
  }
  // Only what is read is stored, at most the length the search reported: a
  // file that changed since then still gives a sound entry.
  size_t first = 0;
  test(step.size > 0 && input.ReadAt(0, buffers->chunk.data(),
                                     static_cast<size_t>(std::min(step.size, kChunk)), &first) &&
       first > 0);

  krfdir_t& entry = st->dir[dir_num];
  entry = krfdir_t{};
  krf::SetName(&entry, step.stored);
  entry.Ofs = static_cast<int32_t>(st->last_pos);
  int64_t raw_length = 0;
  int64_t size = -1;
  if (st->settings.compress == mixed::kCompressRle) {
    std::fputs(", encoding RLE...", st->out);
    ShowProgress(st);
    size_t still_loaded = 0;
    size = StoreRle(input, step.size, buffers, first, &raw_length, &still_loaded);
    if (size < 0) buffers->out.Rewind(st->last_pos);
    // A file read in one piece is still in the buffer for storing as is.
    first = still_loaded;
  }
  if (size >= 0) {
    entry.Type = krf::kMethodRle;
  } else {
    raw_length = StoreRaw(input, step.size, buffers, first);
    test(raw_length > 0);
    size = raw_length;
    entry.Type = krf::kMethodNone;
  }
  entry.RawLen = static_cast<int32_t>(raw_length);
  entry.Size = static_cast<int32_t>(size);
  st->last_pos += size;
  entry.Type |= krf::kLive;
  std::fputs("\n", st->out);
}

void AddFile(RunState* st, const AddStep& step, AddBuffers* buffers) {
  size_t dir_num = st->dir.size();
  const auto found = st->live_index.find(step.stored);
  if (found == st->live_index.end()) {
    st->live_index.emplace(step.stored, dir_num);
    st->dir.emplace_back();
  } else {
    st->need_upd = true;
    krfdir_t& old = st->dir[found->second];
    if (old.Size > step.size) {
      // The new data may not fit the old block: the old entry is flagged and
      // the file takes a new slot at the end.
      old.Type &= ~krf::kLive;
      found->second = dir_num;
      st->dir.emplace_back();
    } else {
      dir_num = found->second;
    }
  }
  st->dir_changed = true;
  single_add(st, step, dir_num, buffers);
  ++st->progressed;
}

}  // namespace

void add(RunState* st) {
  const Settings& s = st->settings;
  const std::string pattern = s.name[1].substr(s.mask_path.size());
  const std::string top = s.mask_path.empty() ? std::string() : host::ResolvePath(HostPath(s.mask_path));
  std::vector<host::DirEntry> entries;
  Planner planner(*st);
  if (host::ListDirectory(top, &entries)) planner.Walk(top, s.mask_path, 0, pattern, entries);

  ProtectDirectory(st, planner.reach());
  AddBuffers buffers(st);
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
      case AddStep::kFile:
        AddFile(st, step, &buffers);
        break;
    }
  }
  buffers.out.Flush();
}

}  // namespace xkrf
