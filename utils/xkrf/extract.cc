#include <algorithm>
#include <cinttypes>

#include "host/byteorder.h"
#include "host/safe_tree.h"
#include "mixed/mixed.h"
#include "xkrf/actions.h"
#include "xkrf/mask.h"

namespace xkrf {

namespace {

constexpr int64_t kChunk = 1 << 20;
// Stored bytes are decoded in pieces of this size, so one piece decodes to
// at most about 2 MiB.
constexpr int64_t kRlePiece = 1 << 16;

// The path an entry is written to, below the working directory: a drive
// prefix and leading backslashes are dropped, as archivers do. Empty when the
// name must not be written at all (a ".." level, or no file name).
std::vector<std::string> SafeComponents(std::string name) {
  if (name.size() >= 2 && name[1] == ':' &&
      ((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= 'A' && name[0] <= 'Z'))) {
    name.erase(0, 2);
  }
  std::vector<std::string> raw;
  size_t start = 0;
  for (;;) {
    const size_t slash = name.find('\\', start);
    raw.push_back(name.substr(start, slash - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  // The last level is the file itself: a name ending in a separator or a dot
  // level names a folder, which is not a file to write.
  if (raw.back().empty() || raw.back() == ".") return {};
  std::vector<std::string> parts;
  for (const std::string& part : raw) {
    if (part == "..") return {};
    if (!part.empty() && part != ".") parts.push_back(part);
  }
  return parts;
}

std::string JoinDirectory(const std::vector<std::string>& parts) {
  std::string out;
  for (size_t i = 0; i + 1 < parts.size(); ++i) out += parts[i] + "\\";
  return out;
}

}  // namespace

void single_extract(RunState* st, size_t index, host::SafeTree* tree) {
  const krfdir_t& e = st->dir[index];
  if (!krf::NameTerminated(e)) {
    std::fprintf(st->out, "skipping entry %zu: name without terminating zero !\n", index);
    return;
  }
  const std::string name = krf::EntryName(e);
  const std::vector<std::string> parts = SafeComponents(name);
  bool created = false;
  host::TreeResult where = host::TreeResult::kUnsafe;
  if (!parts.empty()) {
    const std::vector<std::string> dirs(parts.begin(), parts.end() - 1);
    where = tree->Enter(dirs, &created);
  }
  if (where == host::TreeResult::kUnsafe) {
    std::fprintf(st->out, "skipping '%s': unsafe path !\n", name.c_str());
    return;
  }
  uint64_t device = 0, inode = 0;
  if (where == host::TreeResult::kOk && st->krf.Identity(&device, &inode) &&
      tree->IsSameFile(parts.back(), device, inode)) {
    // Emptying the archive while reading from it would destroy it.
    std::fprintf(st->out, "skipping '%s': it is the archive itself !\n", name.c_str());
    return;
  }
  if (created) std::fprintf(st->out, "created path %s...\n", JoinDirectory(parts).c_str());
  std::fprintf(st->out, "extracting %s...", name.c_str());
  ShowProgress(st);

  test(e.Size > 0 && host::RangeInside(e.Ofs, e.Size, st->disk.file_size));
  const bool rle = (e.Type & krf::kMethodRle) != 0;
  std::vector<uint8_t> chunk(rle ? kRlePiece : kChunk);
  if (rle) {
    // The decoded length is known before any output exists: a stream that
    // does not match leaves no file behind.
    mixed::RleScanner scanner;
    for (int64_t done = 0; done < e.Size;) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(e.Size - done, kRlePiece));
      test(st->krf.ReadExactAt(e.Ofs + done, chunk.data(), n));
      scanner.Feed(chunk.data(), n);
      done += static_cast<int64_t>(n);
    }
    if (scanner.decoded() != e.RawLen) {
      char message[128];
      std::snprintf(message, sizeof message,
                    "filesizes mismatched after decoding (%" PRId64 ", should be %d)!\n",
                    scanner.decoded(), e.RawLen);
      throw Fatal(message);
    }
  } else {
    // Stored bytes are all there is: a length beyond them cannot be written.
    test(e.RawLen <= e.Size);
  }

  host::File output;
  if (where != host::TreeResult::kOk || !tree->CreateFile(parts.back(), &output)) {
    throw Fatal("Couldn't create file !\n");
  }
  test(e.RawLen > 0);
  host::BufferedWriter writer(&output, kChunk);
  mixed::RleDecoder decoder;
  std::vector<uint8_t> decoded(rle ? mixed::RleDecoder::MaxOutput(kRlePiece) : 0);
  const int64_t stored = rle ? e.Size : e.RawLen;
  for (int64_t done = 0; done < stored;) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(stored - done, chunk.size()));
    test(st->krf.ReadExactAt(e.Ofs + done, chunk.data(), n));
    if (rle) {
      const size_t got = decoder.Feed(chunk.data(), n, decoded.data(), decoded.size());
      writer.Write(decoded.data(), got);
    } else {
      writer.Write(chunk.data(), n);
    }
    done += static_cast<int64_t>(n);
  }
  test(writer.Flush());
  test(output.Close());
  ++st->progressed;
  std::fputs("\n", st->out);
}

void ext(RunState* st) {
  host::SafeTree tree;
  for (size_t i = 0; i < st->dir.size(); ++i) {
    if (yes_mask(st->settings, krf::EntryName(st->dir[i]))) single_extract(st, i, &tree);
  }
}

void del(RunState* st) {
  for (krfdir_t& e : st->dir) {
    if (!yes_mask(st->settings, krf::EntryName(e))) continue;
    e.Type &= ~krf::kLive;
    st->need_upd = true;
    st->dir_changed = true;
    ++st->progressed;
  }
}

}  // namespace xkrf
