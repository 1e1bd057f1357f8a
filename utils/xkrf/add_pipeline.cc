#include "xkrf/add_pipeline.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "host/file.h"
#include "rle/run_length.h"
#include "xkrf/run_state.h"

namespace xkrf {

namespace {

// A file that fits one read is encoded and, should that not pay, copied
// out of the same batch, so a batch keeps room for its bytes twice.
constexpr int kRawCopies = 2;

// A batch goes to the writer once its file bytes reach this, before the next
// file: small files then touch a few pages of each batch again and again
// rather than all of them once, and the writer starts on them sooner.
constexpr size_t kHandOver = size_t{256} << 10;

}  // namespace

AddPipeline::AddPipeline(std::vector<PipelineFile> files, bool rle, size_t chunk)
    : files_(std::move(files)), rle_(rle), chunk_(chunk) {
  for (Batch& b : batches_) {
    // Not value-initialised: only the pages a run fills are ever touched.
    b.raw.reset(new uint8_t[kRawCopies * chunk_]);
    b.encoded.reset(new uint8_t[rle::Encoder::MaxOutput(chunk_) + rle::Encoder::MaxOutput(0)]);
    free_.push_back(&b);
  }
  if (files_.empty()) {
    reader_done_ = true;
    return;
  }
  try {
    reader_ = std::thread([this] { Run(); });
  } catch (const std::system_error& e) {
    throw Fatal(std::string("Cannot start reading: ") + e.what() + " !\n");
  }
}

AddPipeline::~AddPipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (reader_.joinable()) reader_.join();
}

Piece AddPipeline::Next() {
  if (reading_ != nullptr && next_piece_ == reading_->pieces.size()) {
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(std::exchange(reading_, nullptr));
    changed_.notify_all();
  }
  if (reading_ == nullptr) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !ready_.empty() || reader_done_; });
    if (ready_.empty()) {
      if (failure_) std::rethrow_exception(failure_);
      throw std::logic_error("AddPipeline::Next: every piece has been taken");
    }
    reading_ = ready_.front();
    ready_.pop_front();
    next_piece_ = 0;
  }
  return reading_->pieces[next_piece_++];
}

bool AddPipeline::Reserve(size_t raw, size_t encoded) {
  const size_t raw_room = kRawCopies * chunk_;
  const size_t encoded_room = rle::Encoder::MaxOutput(chunk_) + rle::Encoder::MaxOutput(0);
  if (filling_ != nullptr && filling_->raw_used + raw <= raw_room &&
      filling_->encoded_used + encoded <= encoded_room) {
    return true;
  }
  if (filling_ != nullptr) Publish();
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return stop_ || !free_.empty(); });
  if (stop_) return false;
  filling_ = free_.front();
  free_.pop_front();
  ++taken_;
  filling_->raw_used = 0;
  filling_->encoded_used = 0;
  filling_->pieces.clear();
  return true;
}

void AddPipeline::Emit(const Piece& piece) { filling_->pieces.push_back(piece); }

void AddPipeline::Publish() {
  std::lock_guard<std::mutex> lock(mutex_);
  ready_.push_back(std::exchange(filling_, nullptr));
  changed_.notify_all();
}

void AddPipeline::Run() {
  std::exception_ptr failure;
  try {
    for (size_t i = 0; i < files_.size(); ++i) {
      const bool go_on = ReadFile(i);
      if (filling_ == nullptr) break;  // stopping
      if (!go_on) break;
    }
    if (filling_ != nullptr) Publish();
  } catch (...) {
    // Out of memory, or anything else: the writer takes the pieces before
    // it, then ends the run with it on its own thread. Nothing in here
    // allocates, so nothing escapes the thread.
    failure = std::current_exception();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    failure_ = failure;
    reader_done_ = true;
  }
  changed_.notify_all();
}

// Mirrors, read for read, what the writer makes of the pieces: the same
// lengths are asked for at the same offsets as a run that reads and writes
// on one thread, and the outcome (encoded or stored as is) is decided by
// the same comparisons, which depend on the file's bytes alone.
bool AddPipeline::ReadFile(size_t index) {
  const PipelineFile& f = files_[index];
  const auto fail = [&](Piece::Kind kind) {
    if (Reserve(0, 0)) Emit({index, kind, nullptr, 0, 0, true});
    return false;
  };
  host::File input;
  if (!input.Open(f.fs_path, host::File::Mode::kReadListed)) return fail(Piece::kOpenFailed);
  const auto want_at = [&](int64_t offset) {
    return static_cast<size_t>(std::min<int64_t>(f.size - offset, static_cast<int64_t>(chunk_)));
  };
  // Reads into the batch being filled; false when the read failed.
  const auto read = [&](int64_t offset, size_t want, uint8_t** at, size_t* got) {
    *at = filling_->raw.get() + filling_->raw_used;
    *got = 0;
    if (want > 0 && !input.ReadAt(offset, *at, want, got)) return false;
    filling_->raw_used += *got;
    return true;
  };

  if (f.size <= 0) return fail(Piece::kReadFailed);
  if (filling_ != nullptr && filling_->raw_used >= kHandOver) Publish();
  const size_t first_want = want_at(0);
  // With RLE the file's first piece, its encoding and the encoder's finish
  // share one batch, so the piece is still there should encoding not pay.
  if (!Reserve(rle_ ? kRawCopies * first_want : first_want,
               rle_ ? rle::Encoder::MaxOutput(first_want) + rle::Encoder::MaxOutput(0) : 0)) {
    return false;
  }
  uint8_t* first_data = nullptr;
  size_t first = 0;
  if (!read(0, first_want, &first_data, &first) || first == 0) return fail(Piece::kReadFailed);
  const uint64_t first_batch = taken_;

  size_t preloaded = first;  // bytes of the file's start the raw pieces may take as they are
  bool copy_preloaded = false;
  if (rle_) {
    rle::Encoder encoder;
    int64_t done = 0, written = 0;
    int pieces = 0;
    bool shorter = false;
    for (;;) {
      uint8_t* data = first_data;
      size_t got = first;
      if (pieces > 0) {
        const size_t want = want_at(done);
        if (!Reserve(want, rle::Encoder::MaxOutput(want))) return false;
        if (!read(done, want, &data, &got)) return fail(Piece::kReadFailed);
      }
      uint8_t* const out = filling_->encoded.get() + filling_->encoded_used;
      size_t produced;
      if (got == 0) {
        produced = encoder.Finish(out);
      } else {
        produced = encoder.Feed(data, got, out);
        done += static_cast<int64_t>(got);
        ++pieces;
      }
      filling_->encoded_used += produced;
      const bool settled = !RlePays(written + static_cast<int64_t>(produced), f.size);
      if (!settled) written += static_cast<int64_t>(produced);
      shorter = !settled && got == 0 && RlePays(written, done);
      Emit({index, got == 0 ? Piece::kFinish : Piece::kEncoded, out, produced, got, shorter});
      if (settled || got == 0) break;
    }
    if (shorter) return true;
    preloaded = pieces == 1 ? static_cast<size_t>(done) : 0;
    copy_preloaded = true;
  }

  // The file as it is. A file read in one piece is taken from the batch
  // when it is still there, else read again; larger files are read again.
  int64_t done = 0;
  while (done < f.size) {
    uint8_t* data = nullptr;
    size_t got = 0;
    if (preloaded > 0 && (!copy_preloaded || (taken_ == first_batch && Reserve(preloaded, 0) &&
                                              taken_ == first_batch))) {
      got = std::exchange(preloaded, 0);
      data = first_data;
      if (copy_preloaded) {
        data = filling_->raw.get() + filling_->raw_used;
        std::memcpy(data, first_data, got);
        filling_->raw_used += got;
      }
    } else {
      const size_t want = preloaded > 0 ? std::exchange(preloaded, 0) : want_at(done);
      if (!Reserve(want, 0)) return false;
      if (!read(done, want, &data, &got)) return fail(Piece::kReadFailed);
    }
    if (got == 0) {
      Emit({index, Piece::kRaw, nullptr, 0, 0, true});
      return true;
    }
    done += static_cast<int64_t>(got);
    Emit({index, Piece::kRaw, data, got, got, done >= f.size});
  }
  return true;
}

}  // namespace xkrf
