#include <algorithm>
#include <cinttypes>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>

#include "about/ascii.h"
#include "host/byteorder.h"
#include "host/dir_search.h"
#include "host/file.h"
#include "host/safe_tree.h"
#include "rle/run_length.h"
#include "xkrf/actions.h"
#include "xkrf/entry_path.h"
#include "xkrf/mask.h"

namespace xkrf {

namespace {

// State and buffers reused from entry to entry, so memory stays bounded and fresh
// pages are not touched for every file.
struct ExtractBuffers {
  static constexpr int64_t kChunk = 1 << 20;
  // RLE blocks are decoded in pieces of this size, each at most ~2 MiB out.
  static constexpr int64_t kRlePiece = 1 << 16;
  std::vector<uint8_t> chunk = std::vector<uint8_t>(kChunk);
  std::vector<uint8_t> decoded = std::vector<uint8_t>(rle::Decoder::MaxOutput(kRlePiece));
  // The archive itself, which no entry may overwrite.
  uint64_t archive_device = 0;
  uint64_t archive_inode = 0;
};

constexpr int64_t kChunk = ExtractBuffers::kChunk;
constexpr int64_t kRlePiece = ExtractBuffers::kRlePiece;

std::string JoinDirectory(const std::vector<std::string>& parts) {
  std::string out;
  for (size_t i = 0; i + 1 < parts.size(); ++i) out += parts[i] + "\\";
  return out;
}

// Where an entry is written: its folder, entered (and made) below the
// working directory, and the file's place in it.
struct Destination {
  host::TreeResult where = host::TreeResult::kUnsafe;
  host::SafeTree::Target target;
  bool created = false;  // folders were made on the way
};

// `parts` as ResolveEntryPath gives them; none leaves the place unsafe.
Destination Locate(host::SafeTree* tree, const std::vector<std::string>& parts) {
  Destination d;
  if (parts.empty()) return d;
  const std::vector<std::string> dirs(parts.begin(), parts.end() - 1);
  d.where = tree->Enter(dirs, &d.created);
  if (d.where == host::TreeResult::kOk) d.target = tree->Find(parts.back());
  return d;
}

bool IsArchive(const host::SafeTree::Target& target, const ExtractBuffers& buffers) {
  return target.exists && !target.is_link && target.device == buffers.archive_device &&
         target.inode == buffers.archive_inode;
}

// The stored block of one entry, read in pieces into the chunk buffer; a
// block that fits the buffer is read once for every pass over it.
class Block {
 public:
  Block(RunState* st, const krfdir_t& e, ExtractBuffers* buffers)
      : st_(st), e_(e), chunk_(buffers->chunk.data()), whole_(e.Size <= kChunk) {
    if (whole_) test(st_->krf.ReadExactAt(e_.Ofs, chunk_, static_cast<size_t>(e_.Size)));
  }

  bool whole() const { return whole_; }
  const uint8_t* data() const { return chunk_; }

  // The block's bytes from `done` on, at most `limit` of them.
  const uint8_t* Piece(int64_t done, int64_t limit) {
    if (whole_) return chunk_ + done;
    const size_t n = static_cast<size_t>(std::min(e_.Size - done, limit));
    test(st_->krf.ReadExactAt(e_.Ofs + done, chunk_, n));
    return chunk_;
  }

 private:
  RunState* st_;
  const krfdir_t& e_;
  uint8_t* chunk_;
  const bool whole_;
};

// A small RLE entry decoded whole into buffers->decoded; `in_memory` is
// false when it did not fit there (or is not RLE), and it is then decoded
// again as it is written.
struct Decoded {
  bool in_memory = false;
  size_t length = 0;
};

// Establishes the entry's length before any output exists: a block whose
// decoded length differs from RawLen ends the run, and a stored block
// cannot give more than its own bytes. A whole RLE block is decoded into
// `out` (room for `room` bytes) when its length fits there.
Decoded CheckLength(const krfdir_t& e, bool rle, Block* block, uint8_t* out, size_t room) {
  Decoded d;
  if (!rle) {
    test(e.RawLen <= e.Size);
    return d;
  }
  if (block->whole() && e.RawLen >= 0 && static_cast<size_t>(e.RawLen) <= room) {
    rle::Decoder decoder;
    d.length = decoder.Feed(block->data(), static_cast<size_t>(e.Size), out, room);
    d.in_memory = !decoder.overflowed();
  }
  int64_t decoded = static_cast<int64_t>(d.length);
  if (!d.in_memory) {
    rle::Scanner scanner;
    for (int64_t done = 0; done < e.Size; done += kChunk) {
      scanner.Feed(block->Piece(done, kChunk),
                   static_cast<size_t>(std::min(e.Size - done, kChunk)));
    }
    decoded = scanner.decoded();
  }
  if (decoded != e.RawLen) {
    char message[128];
    std::snprintf(message, sizeof message,
                  "filesizes mismatched after decoding (%" PRId64 ", should be %d)!\n", decoded,
                  e.RawLen);
    throw Fatal(message);
  }
  return d;
}

void WriteOut(const krfdir_t& e, bool rle, const Decoded& decoded, Block* block,
              ExtractBuffers* buffers, host::File* output) {
  if (decoded.in_memory) {
    test(output->Write(buffers->decoded.data(), decoded.length));
  } else if (rle) {
    rle::Decoder decoder;
    for (int64_t done = 0; done < e.Size; done += kRlePiece) {
      const size_t n = static_cast<size_t>(std::min(e.Size - done, kRlePiece));
      const size_t got = decoder.Feed(block->Piece(done, kRlePiece), n, buffers->decoded.data(),
                                      buffers->decoded.size());
      test(output->Write(buffers->decoded.data(), got));
    }
  } else {
    for (int64_t done = 0; done < e.RawLen; done += kChunk) {
      const int64_t n = std::min(int64_t{e.RawLen} - done, kChunk);
      test(output->Write(block->Piece(done, kChunk), static_cast<size_t>(n)));
    }
  }
}

// Another program holds the file open and lets no one write it (Windows
// does that): the file keeps its bytes and the run goes on, as for any skip.
bool SkippedInUse(RunState* st) {
  if (errno != host::kInUse) return false;
  std::fputs("in use by another program, skipping !\n", st->out);
  return true;
}

// The second thread of an extraction: it creates and writes the files whose
// entries the calling thread has read and decoded, and prints each entry's
// lines when it gets to the entry, so the console shows, line for line,
// what a run on one thread shows. A failure on either thread, the worker's
// own or one the caller hands over with an entry, ends the run after that
// entry's lines: the worker stops there, and the caller rethrows it at its
// next call, which then reaches the run's one fatal path.
class FileWriter {
 public:
  // One entry's part: `text` is printed, then `failure` (when set) ends the
  // run, or else the file `planned` (when set) is made and given `bytes`.
  struct Job {
    std::string text;
    std::exception_ptr failure;
    std::optional<host::SafeTree::PlannedFile> planned;
    std::unique_ptr<uint8_t[]> bytes;
    size_t capacity = 0;
    size_t size = 0;
  };

  explicit FileWriter(RunState* st) : st_(st) {
    try {
      worker_ = std::thread([this] { Serve(); });
    } catch (const std::system_error&) {
      // No second thread to be had: the caller does each job itself.
    }
  }

  // Lets the worker finish what was handed over, then joins it.
  ~FileWriter() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
    }
    work_.notify_one();
    if (worker_.joinable()) worker_.join();
  }

  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // A job whose buffer holds at least `size` bytes, reusing one the worker
  // is done with where it can.
  Job NewJob(size_t size) {
    if (spare_.empty() && worker_.joinable()) {
      std::vector<Job> returned;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        returned.swap(returned_);
      }
      for (Job& job : returned) Keep(&job);
    }
    Job job;
    if (!spare_.empty()) {
      job = std::move(spare_.back());
      spare_.pop_back();
    }
    if (job.capacity < size) {
      job.bytes.reset(new uint8_t[size]);
      job.capacity = size;
    }
    job.size = 0;
    return job;
  }

  // Queues `job`. Jobs are handed to the worker in runs, each run under
  // one lock, and the caller waits while their buffers fill the budget.
  void Push(Job job) {
    if (!worker_.joinable()) {
      Do(&job);
      Keep(&job);
      return;
    }
    outgoing_bytes_ += job.capacity;
    outgoing_.push_back(std::move(job));
    if (outgoing_.size() >= kRunJobs || outgoing_bytes_ >= kQueuedBytes / 4) Hand();
  }

  // Waits until every queued job is done.
  void Drain() {
    planned_names_.clear();
    if (!worker_.joinable()) return;
    if (!outgoing_.empty()) Hand();
    std::unique_lock<std::mutex> lock(mutex_);
    caller_waits_ = true;
    done_.wait(lock, [&] { return failure_ || (queued_.empty() && !busy_); });
    caller_waits_ = false;
    if (failure_) Fail(&lock);
  }

  // Whether a queued file has `name` in any letter case: the tree then
  // learns what it finds under the name only once that file is made.
  bool Planned(const std::string& name) const {
    return planned_names_.count(about::AsciiLower(name)) != 0;
  }
  void NotePlanned(const std::string& name) { planned_names_.insert(about::AsciiLower(name)); }

  // Files written, and files skipped; exact once Drain returned.
  int written() {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
  }
  int skipped() {
    std::lock_guard<std::mutex> lock(mutex_);
    return skipped_;
  }

 private:
  // The bytes of the buffers handed over and not yet done: enough for
  // some hundreds of small files, bounded whatever their count and size.
  static constexpr size_t kQueuedBytes = size_t{4} << 20;
  static constexpr size_t kQueuedJobs = 512;
  static constexpr size_t kRunJobs = 32;
  // Buffers kept for reuse: the small files' ones, and not too many.
  static constexpr size_t kKeptJobs = 64;
  static constexpr size_t kKeptCapacity = size_t{36} << 10;

  void Hand() {
    std::unique_lock<std::mutex> lock(mutex_);
    caller_waits_ = true;
    done_.wait(lock, [&] {
      return failure_ || (queued_.empty() && !busy_) ||
             (queued_bytes_ + outgoing_bytes_ <= kQueuedBytes &&
              queued_.size() + outgoing_.size() <= kQueuedJobs);
    });
    caller_waits_ = false;
    if (failure_) Fail(&lock);
    queued_bytes_ += outgoing_bytes_;
    outgoing_bytes_ = 0;
    for (Job& job : outgoing_) queued_.push_back(std::move(job));
    outgoing_.clear();
    if (worker_waits_) work_.notify_one();
  }

  void Do(Job* job) {
    std::fputs(job->text.c_str(), st_->out);
    if (job->failure) std::rethrow_exception(job->failure);
    if (!job->planned) return;
    ShowProgress(st_);
    host::File output;
    if (!job->planned->Create(&output)) {
      if (SkippedInUse(st_)) {
        ++skipped_here_;
        return;
      }
      throw Fatal("Couldn't create file !\n");
    }
    test(output.Write(job->bytes.get(), job->size));
    test(output.Close());
    std::fputs("\n", st_->out);
    ++written_here_;
  }

  // Keeps the buffer of a job done for the caller's next jobs.
  void Keep(Job* job) {
    if (job->capacity == 0 || job->capacity > kKeptCapacity || spare_.size() >= kKeptJobs) return;
    job->planned.reset();
    job->text.clear();
    spare_.push_back(std::move(*job));
  }

  void Serve() {
    std::vector<Job> done;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      worker_waits_ = true;
      work_.wait(lock, [&] { return closing_ || !queued_.empty(); });
      worker_waits_ = false;
      if (queued_.empty()) return;
      std::deque<Job> run;
      run.swap(queued_);
      busy_ = true;
      lock.unlock();
      std::exception_ptr failure;
      size_t bytes = 0;
      for (Job& job : run) {
        try {
          Do(&job);
        } catch (...) {
          failure = std::current_exception();
          break;
        }
        bytes += job.capacity;
        job.planned.reset();  // its folder may close
        done.push_back(std::move(job));
      }
      lock.lock();
      busy_ = false;
      written_ = written_here_;
      skipped_ = skipped_here_;
      if (failure) {
        failure_ = failure;
        if (caller_waits_) done_.notify_one();
        return;
      }
      queued_bytes_ -= bytes;
      for (Job& job : done) returned_.push_back(std::move(job));
      done.clear();
      if (caller_waits_) done_.notify_one();
    }
  }

  // Rethrows the worker's failure once it has stopped.
  [[noreturn]] void Fail(std::unique_lock<std::mutex>* lock) {
    std::exception_ptr failure = failure_;
    lock->unlock();
    worker_.join();
    std::rethrow_exception(failure);
  }

  RunState* const st_;
  // The caller's.
  std::unordered_set<std::string> planned_names_;
  std::vector<Job> outgoing_;
  size_t outgoing_bytes_ = 0;
  std::vector<Job> spare_;
  // The worker's (the caller's without a worker).
  int written_here_ = 0;
  int skipped_here_ = 0;
  // Shared, under the lock.
  std::mutex mutex_;
  std::condition_variable work_;  // the worker waits here for jobs
  std::condition_variable done_;  // the caller waits here for room or the end
  std::deque<Job> queued_;
  std::vector<Job> returned_;
  size_t queued_bytes_ = 0;
  bool busy_ = false;
  bool worker_waits_ = false;
  bool caller_waits_ = false;
  bool closing_ = false;
  int written_ = 0;
  int skipped_ = 0;
  std::exception_ptr failure_;
  std::thread worker_;
};

// Whether entry `e` is read and decoded whole, ahead of the writing; other
// entries (large ones, and those whose sizes promise a failure) are written
// by the caller as they are read, once the files before them are done.
bool TakenWhole(const krfdir_t& e, bool rle) {
  if (e.RawLen <= 0 || e.Size <= 0 || e.Size > kChunk || e.RawLen > kChunk) return false;
  return rle || e.RawLen <= e.Size;
}

// Room beyond a whole entry's length, so that the decoder's wide stores
// never make it stop short of the end.
constexpr size_t kDecodeSlack = 4096;

// Writes entry `index` below the working directory; `tree` keeps the folder
// of the previous entry open and what it learnt of every folder entered
// before. An unsafe name, or one without its terminating zero, is skipped.
// Small entries are handed to `writer` with their lines; the others are
// written here once `writer` is done with what came before.
void single_extract(RunState* st, size_t index, host::SafeTree* tree, ExtractBuffers* buffers,
                    FileWriter* writer) {
  const krfdir_t& e = st->dir[index];
  FileWriter::Job job;
  if (!krf::NameTerminated(e)) {
    ++st->skipped;
    job.text = "skipping entry " + std::to_string(index) + ": name without terminating zero !\n";
    writer->Push(std::move(job));
    return;
  }
  const std::string name = krf::EntryName(e);
  // A drive prefix and leading separators are dropped, as archivers do.
  const std::vector<std::string> parts = ResolveEntryPath(name).parts;
  for (const std::string& part : parts) {
    const std::string why = host::UnusableName(part);
    if (!why.empty()) {
      ++st->skipped;
      job.text = "skipping '" + name + "': " + why + " !\n";
      writer->Push(std::move(job));
      return;
    }
  }
  // The tree must see the disk as a run on one thread would: folders are
  // entered, and names looked up, only once the files planned before that
  // could be in the way are made.
  if (parts.empty() || !tree->IsCurrent({parts.begin(), parts.end() - 1}) ||
      writer->Planned(parts.back())) {
    writer->Drain();
  }
  const Destination dest = Locate(tree, parts);
  if (dest.where == host::TreeResult::kUnsafe) {
    ++st->skipped;
    job.text = "skipping '" + name + "': unsafe path !\n";
    writer->Push(std::move(job));
    return;
  }
  if (IsArchive(dest.target, *buffers)) {
    // Emptying the archive while reading from it would destroy it. Not a
    // skip of something asked for: the archive is already there.
    job.text = "skipping '" + name + "': it is the archive itself !\n";
    writer->Push(std::move(job));
    return;
  }
  std::string text;
  if (dest.created) text = "created path " + JoinDirectory(parts) + "...\n";
  text += "extracting " + name + "...";

  const bool rle = (e.Type & krf::kMethodRle) != 0;
  if (!TakenWhole(e, rle) || dest.where != host::TreeResult::kOk) {
    writer->Drain();
    std::fputs(text.c_str(), st->out);
    ShowProgress(st);
    test(e.Size > 0 && host::RangeInside(e.Ofs, e.Size, st->disk.file_size));
    Block block(st, e, buffers);
    const Decoded decoded =
        CheckLength(e, rle, &block, buffers->decoded.data(), buffers->decoded.size());
    host::File output;
    if (dest.where != host::TreeResult::kOk) throw Fatal("Couldn't create file !\n");
    if (!tree->CreateFile(dest.target, &output)) {
      if (!SkippedInUse(st)) throw Fatal("Couldn't create file !\n");
      ++st->skipped;
      return;
    }
    test(e.RawLen > 0);
    WriteOut(e, rle, decoded, &block, buffers, &output);
    test(output.Close());
    ++st->progressed;
    std::fputs("\n", st->out);
    return;
  }

  job = writer->NewJob(static_cast<size_t>(rle ? e.RawLen + kDecodeSlack : e.Size));
  job.text = std::move(text);
  try {
    test(host::RangeInside(e.Ofs, e.Size, st->disk.file_size));
    Block block(st, e, buffers);
    const Decoded decoded = CheckLength(e, rle, &block, job.bytes.get(), job.capacity);
    if (rle) {
      job.size = decoded.length;
    } else {
      std::memcpy(job.bytes.get(), block.data(), static_cast<size_t>(e.RawLen));
      job.size = static_cast<size_t>(e.RawLen);
    }
    job.planned.emplace();
    if (!tree->Plan(dest.target, &*job.planned)) throw Fatal("Couldn't create file !\n");
    writer->NotePlanned(parts.back());
  } catch (const Fatal&) {
    job.planned.reset();
    job.failure = std::current_exception();
  }
  writer->Push(std::move(job));
}

}  // namespace

void ext(RunState* st) {
  host::SafeTree tree;
  ExtractBuffers buffers;
  st->krf.Identity(&buffers.archive_device, &buffers.archive_inode);
  FileWriter writer(st);
  for (size_t i = 0; i < st->dir.size(); ++i) {
    if (yes_mask(st->settings, krf::NameView(st->dir[i]))) {
      single_extract(st, i, &tree, &buffers, &writer);
    }
  }
  writer.Drain();
  st->progressed += writer.written();
  st->skipped += writer.skipped();
}
}  // namespace xkrf
