#include <cinttypes>

#include "host/byteorder.h"
#include "host/safe_tree.h"
#include "mixed/mixed.h"
#include "xkrf/actions.h"
#include "xkrf/mask.h"

namespace xkrf {

namespace {

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

void single_extract(RunState* st, size_t index) {
  const krfdir_t& e = st->dir[index];
  if (!krf::NameTerminated(e)) {
    std::fprintf(st->out, "skipping entry %zu: name without terminating zero !\n", index);
    return;
  }
  const std::string name = krf::EntryName(e);
  const std::vector<std::string> parts = SafeComponents(name);
  host::File folder;
  bool created = false;
  host::TreeResult where = host::TreeResult::kUnsafe;
  if (!parts.empty()) {
    const std::vector<std::string> dirs(parts.begin(), parts.end() - 1);
    where = host::OpenDirectoryBelow(dirs, &folder, &created);
  }
  if (where == host::TreeResult::kUnsafe) {
    std::fprintf(st->out, "skipping '%s': unsafe path !\n", name.c_str());
    return;
  }
  uint64_t device = 0, inode = 0;
  if (where == host::TreeResult::kOk && st->krf.Identity(&device, &inode) &&
      host::IsSameFileIn(folder, parts.back(), device, inode)) {
    // Emptying the archive while reading from it would destroy it.
    std::fprintf(st->out, "skipping '%s': it is the archive itself !\n", name.c_str());
    return;
  }
  if (created) std::fprintf(st->out, "created path %s...\n", JoinDirectory(parts).c_str());
  std::fprintf(st->out, "extracting %s...", name.c_str());
  std::fflush(st->out);

  test(e.Size > 0 && host::RangeInside(e.Ofs, e.Size, st->disk.file_size));
  std::vector<uint8_t> stored(static_cast<size_t>(e.Size));
  test(st->krf.ReadExactAt(e.Ofs, stored.data(), stored.size()));
  std::vector<uint8_t> decoded;
  const std::vector<uint8_t>* data = &stored;
  if (e.Type & krf::kMethodRle) {
    // The length is known before anything is allocated for it.
    const int64_t length = mixed_DecodedRLESize(stored.data(), stored.size());
    if (length != e.RawLen) {
      char message[128];
      std::snprintf(message, sizeof message,
                    "filesizes mismatched after decoding (%" PRId64 ", should be %d)!\n", length,
                    e.RawLen);
      throw Fatal(message);
    }
    mixed_DecodeRLE(stored.data(), stored.size(), &decoded);
    data = &decoded;
  } else {
    // Stored bytes are all there is: a length beyond them cannot be written.
    test(e.RawLen <= e.Size);
  }

  host::File output;
  if (where != host::TreeResult::kOk || !host::CreateFileIn(folder, parts.back(), &output)) {
    throw Fatal("Couldn't create file !\n");
  }
  test(e.RawLen > 0 && output.Write(data->data(), static_cast<size_t>(e.RawLen)));
  test(output.Close());
  ++st->progressed;
  std::fputs("\n", st->out);
}

void ext(RunState* st) {
  for (size_t i = 0; i < st->dir.size(); ++i) {
    if (yes_mask(st->settings, krf::EntryName(st->dir[i]))) single_extract(st, i);
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
