// Reading and encoding the files of an add run on a second thread, ahead of
// the thread that writes the archive. Only the reader touches the input
// files, and only with reads; every change to the archive stays on the
// calling thread, in the same order as a run without the reader would make
// it, and so does every line of console output.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace xkrf {

// Does RLE pay? A file is stored encoded only when that is shorter: true
// while `encoded` bytes of output stay below `bound`. While the file is
// read, `bound` is the length the directory search reported (output that
// reaches it can no longer end up shorter); at the file's end, the count of
// bytes read. The reader and the writer both decide by it, so they agree
// piece by piece.
inline bool RlePays(int64_t encoded, int64_t bound) { return encoded < bound; }

// One file for the reader: where it is and how much of it to take.
struct PipelineFile {
  std::string fs_path;
  int64_t size = 0;  // the length the directory search reported
};

// What the reader made of one piece of a file, in the order the writer
// consumes them. Per file: with RLE, the encoded pieces (each from one read
// of at most a chunk, then one from the encoder's finish) up to the one
// that settles the outcome; where the encoded form is not shorter, then
// the raw pieces of the file read again; without RLE only the raw pieces.
struct Piece {
  enum Kind {
    kEncoded,     // `data` is encoder output for `raw_size` bytes of the file
    kFinish,      // `data` is what the encoder held back at the file's end
    kRaw,         // `data` is `size` bytes of the file as they are; 0: a read found the end
    kOpenFailed,  // the file could not be opened; nothing more follows for it
    kReadFailed,  // a read failed (or the first one found nothing); nothing more follows
  };
  size_t file = 0;  // index into the files handed to the pipeline
  Kind kind = kRaw;
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t raw_size = 0;
  bool last = false;  // the last piece of its file
};

class AddPipeline {
 public:
  // `chunk` is the largest read. The reader holds at most two batches of
  // pieces (one being filled, one being written) of a chunk of file bytes
  // and their encoding each, so memory stays bounded whatever the files.
  AddPipeline(std::vector<PipelineFile> files, bool rle, size_t chunk);
  ~AddPipeline();  // stops and joins the reader
  AddPipeline(const AddPipeline&) = delete;
  AddPipeline& operator=(const AddPipeline&) = delete;

  // The next piece, waiting for the reader if need be. Valid until the
  // next call. Whatever the reader failed with (out of memory included) is
  // thrown here, on the caller's thread, once the pieces before it are
  // taken; asking past the last piece throws std::logic_error.
  Piece Next();

 private:
  struct Batch {
    std::unique_ptr<uint8_t[]> raw;
    std::unique_ptr<uint8_t[]> encoded;
    size_t raw_used = 0;
    size_t encoded_used = 0;
    std::vector<Piece> pieces;
  };

  void Run();
  // False when the reader is to stop: after a failure, or when told to.
  bool ReadFile(size_t index);
  // Room in the batch being filled for `raw` file bytes and `encoded` bytes
  // of encoder output; publishes it and takes a free one when full. False
  // when stopping.
  bool Reserve(size_t raw, size_t encoded);
  void Emit(const Piece& piece);
  void Publish();

  const std::vector<PipelineFile> files_;
  const bool rle_;
  const size_t chunk_;
  Batch batches_[2];

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Batch*> ready_;  // filled, in order
  std::deque<Batch*> free_;
  bool stop_ = false;
  bool reader_done_ = false;    // it publishes nothing more
  std::exception_ptr failure_;  // what ended the reader, if anything did

  Batch* filling_ = nullptr;  // the reader's
  uint64_t taken_ = 0;        // batches the reader has taken to fill
  Batch* reading_ = nullptr;  // the writer's
  size_t next_piece_ = 0;
  std::thread reader_;
};

}  // namespace xkrf
