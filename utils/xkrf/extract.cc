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

constexpr int64_t kChunk = ExtractBuffers::kChunk;
constexpr int64_t kRlePiece = ExtractBuffers::kRlePiece;

std::string JoinDirectory(const std::vector<std::string>& parts) {
  std::string out;
  for (size_t i = 0; i + 1 < parts.size(); ++i) out += parts[i] + "\\";
  return out;
}

}  // namespace

void single_extract(RunState* st, size_t index, host::SafeTree* tree, ExtractBuffers* buffers) {
  const krfdir_t& e = st->dir[index];
  if (!krf::NameTerminated(e)) {
    Skip(st, "skipping entry " + std::to_string(index) + ": name without terminating zero !\n");
    return;
  }
  const std::string name = krf::EntryName(e);
  // A drive prefix and leading separators are dropped, as archivers do.
  const std::vector<std::string> parts = ResolveEntryPath(name).parts;
  bool created = false;
  host::TreeResult where = host::TreeResult::kUnsafe;
  if (!parts.empty()) {
    const std::vector<std::string> dirs(parts.begin(), parts.end() - 1);
    where = tree->Enter(dirs, &created);
  }
  if (where == host::TreeResult::kUnsafe) {
    Skip(st, "skipping '" + name + "': unsafe path !\n");
    return;
  }
  host::SafeTree::Target target;
  if (where == host::TreeResult::kOk) target = tree->Find(parts.back());
  if (target.exists && !target.is_link && target.device == buffers->archive_device &&
      target.inode == buffers->archive_inode) {
    // Emptying the archive while reading from it would destroy it. Not a
    // skip of something asked for: the archive is already there.
    std::fprintf(st->out, "skipping '%s': it is the archive itself !\n", name.c_str());
    return;
  }
  if (created) std::fprintf(st->out, "created path %s...\n", JoinDirectory(parts).c_str());
  std::fprintf(st->out, "extracting %s...", name.c_str());
  ShowProgress(st);

  test(e.Size > 0 && host::RangeInside(e.Ofs, e.Size, st->disk.file_size));
  const bool rle = (e.Type & krf::kMethodRle) != 0;
  std::vector<uint8_t>& chunk = buffers->chunk;
  // A block that fits the buffer is read once for both passes below.
  const bool whole = e.Size <= kChunk;
  if (whole) test(st->krf.ReadExactAt(e.Ofs, chunk.data(), static_cast<size_t>(e.Size)));
  auto piece = [&](int64_t done, int64_t limit) {
    const size_t n = static_cast<size_t>(std::min(e.Size - done, limit));
    if (whole) return chunk.data() + done;
    test(st->krf.ReadExactAt(e.Ofs + done, chunk.data(), n));
    return chunk.data();
  };
  // A small entry is decoded whole in one pass; its length is then known
  // before any output exists. Others are scanned first for the same reason.
  size_t decoded_whole = 0;
  bool in_memory = false;
  if (rle && whole && e.RawLen >= 0 &&
      static_cast<size_t>(e.RawLen) <= buffers->decoded.size()) {
    mixed::RleDecoder decoder;
    decoded_whole = decoder.Feed(chunk.data(), static_cast<size_t>(e.Size),
                                 buffers->decoded.data(), buffers->decoded.size());
    in_memory = !decoder.overflowed();
  }
  if (rle) {
    int64_t decoded = static_cast<int64_t>(decoded_whole);
    if (!in_memory) {
      mixed::RleScanner scanner;
      for (int64_t done = 0; done < e.Size; done += kChunk) {
        scanner.Feed(piece(done, kChunk), static_cast<size_t>(std::min(e.Size - done, kChunk)));
      }
      decoded = scanner.decoded();
    }
    if (decoded != e.RawLen) {
      char message[128];
      std::snprintf(message, sizeof message,
                    "filesizes mismatched after decoding (%" PRId64 ", should be %d)!\n",
                    decoded, e.RawLen);
      throw Fatal(message);
    }
  } else {
    // Stored bytes are all there is: a length beyond them cannot be written.
    test(e.RawLen <= e.Size);
  }

  host::File output;
  if (where != host::TreeResult::kOk || !tree->CreateFile(target, &output)) {
    throw Fatal("Couldn't create file !\n");
  }
  test(e.RawLen > 0);
  if (in_memory) {
    test(output.Write(buffers->decoded.data(), decoded_whole));
  } else if (rle) {
    mixed::RleDecoder decoder;
    for (int64_t done = 0; done < e.Size; done += kRlePiece) {
      const size_t n = static_cast<size_t>(std::min(e.Size - done, kRlePiece));
      const size_t got =
          decoder.Feed(piece(done, kRlePiece), n, buffers->decoded.data(), buffers->decoded.size());
      test(output.Write(buffers->decoded.data(), got));
    }
  } else {
    for (int64_t done = 0; done < e.RawLen; done += kChunk) {
      const int64_t n = std::min(int64_t{e.RawLen} - done, kChunk);
      test(output.Write(piece(done, kChunk), static_cast<size_t>(n)));
    }
  }
  test(output.Close());
  ++st->progressed;
  std::fputs("\n", st->out);
}

void ext(RunState* st) {
  host::SafeTree tree;
  ExtractBuffers buffers;
  st->krf.Identity(&buffers.archive_device, &buffers.archive_inode);
  for (size_t i = 0; i < st->dir.size(); ++i) {
    if (yes_mask(st->settings, krf::NameView(st->dir[i]))) single_extract(st, i, &tree, &buffers);
  }
}

void del(RunState* st) {
  for (krfdir_t& e : st->dir) {
    if (!yes_mask(st->settings, krf::NameView(e))) continue;
    e.Type &= ~krf::kLive;
    st->need_upd = true;
    st->dir_changed = true;
    ++st->progressed;
  }
}

}  // namespace xkrf
