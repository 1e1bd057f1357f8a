#include <algorithm>
#include <cinttypes>
#include <string>

#include "host/byteorder.h"
#include "host/safe_tree.h"
#include "mixed/mixed.h"
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
  std::vector<uint8_t> decoded = std::vector<uint8_t>(mixed::RleDecoder::MaxOutput(kRlePiece));
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
// cannot give more than its own bytes.
Decoded CheckLength(const krfdir_t& e, bool rle, Block* block, ExtractBuffers* buffers) {
  Decoded d;
  if (!rle) {
    test(e.RawLen <= e.Size);
    return d;
  }
  if (block->whole() && e.RawLen >= 0 && static_cast<size_t>(e.RawLen) <= buffers->decoded.size()) {
    mixed::RleDecoder decoder;
    d.length = decoder.Feed(block->data(), static_cast<size_t>(e.Size), buffers->decoded.data(),
                            buffers->decoded.size());
    d.in_memory = !decoder.overflowed();
  }
  int64_t decoded = static_cast<int64_t>(d.length);
  if (!d.in_memory) {
    mixed::RleScanner scanner;
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
    mixed::RleDecoder decoder;
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

// Writes entry `index` below the working directory; `tree` keeps the folder
// of the previous entry open and what it learnt of every folder entered
// before. An unsafe name, or one without its terminating zero, is skipped
// through Skip().
void single_extract(RunState* st, size_t index, host::SafeTree* tree, ExtractBuffers* buffers) {
  const krfdir_t& e = st->dir[index];
  if (!krf::NameTerminated(e)) {
    Skip(st, "skipping entry " + std::to_string(index) + ": name without terminating zero !\n");
    return;
  }
  const std::string name = krf::EntryName(e);
  // A drive prefix and leading separators are dropped, as archivers do.
  const std::vector<std::string> parts = ResolveEntryPath(name).parts;
  const Destination dest = Locate(tree, parts);
  if (dest.where == host::TreeResult::kUnsafe) {
    Skip(st, "skipping '" + name + "': unsafe path !\n");
    return;
  }
  if (IsArchive(dest.target, *buffers)) {
    // Emptying the archive while reading from it would destroy it. Not a
    // skip of something asked for: the archive is already there.
    std::fprintf(st->out, "skipping '%s': it is the archive itself !\n", name.c_str());
    return;
  }
  if (dest.created) std::fprintf(st->out, "created path %s...\n", JoinDirectory(parts).c_str());
  std::fprintf(st->out, "extracting %s...", name.c_str());
  ShowProgress(st);

  test(e.Size > 0 && host::RangeInside(e.Ofs, e.Size, st->disk.file_size));
  const bool rle = (e.Type & krf::kMethodRle) != 0;
  Block block(st, e, buffers);
  const Decoded decoded = CheckLength(e, rle, &block, buffers);

  host::File output;
  if (dest.where != host::TreeResult::kOk || !tree->CreateFile(dest.target, &output)) {
    throw Fatal("Couldn't create file !\n");
  }
  test(e.RawLen > 0);
  WriteOut(e, rle, decoded, &block, buffers, &output);
  test(output.Close());
  ++st->progressed;
  std::fputs("\n", st->out);
}

}  // namespace

void ext(RunState* st) {
  host::SafeTree tree;
  ExtractBuffers buffers;
  st->krf.Identity(&buffers.archive_device, &buffers.archive_inode);
  for (size_t i = 0; i < st->dir.size(); ++i) {
    if (yes_mask(st->settings, krf::NameView(st->dir[i]))) single_extract(st, i, &tree, &buffers);
  }
}
}  // namespace xkrf
