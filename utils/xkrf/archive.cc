#include "xkrf/archive.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "host/byteorder.h"
#include "host/dir_search.h"
#include "host/temp_file.h"

namespace xkrf {

namespace {

constexpr size_t kCopyChunk = 1 << 20;
// Bounds the retries of opening the archive and of making the temporary
// file, which only another run's rename or creation at the same instant
// (or someone planting names on purpose) can make necessary.
constexpr int kOpenAttempts = 100;

std::vector<uint8_t> EncodeDirectory(const std::vector<krfdir_t>& dir) {
  std::vector<uint8_t> bytes(dir.size() * krf::kDirEntrySize);
  for (size_t i = 0; i < dir.size(); ++i) {
    krf::EncodeDirEntry(dir[i], bytes.data() + i * krf::kDirEntrySize);
  }
  return bytes;
}

int64_t DirBytes(int64_t entries) { return entries * static_cast<int64_t>(krf::kDirEntrySize); }

bool Overlaps(int64_t a_start, int64_t a_end, int64_t b_start, int64_t b_end) {
  return a_start < b_end && b_start < a_end;
}

// Points the header on disk at `entries` records at `dir_ofs`, after what it
// points at has reached the disk.
void CommitHeader(RunState* st, int64_t dir_ofs, size_t entries) {
  test(st->krf.Sync());
  krfheader_t h = st->header;
  h.DirOfs = static_cast<int32_t>(dir_ofs);
  h.DirEntries = static_cast<int32_t>(entries);
  uint8_t bytes[krf::kHeaderSize];
  krf::EncodeHeader(h, bytes);
  test(st->krf.WriteAt(0, bytes, sizeof bytes));
  test(st->krf.Sync());
  st->disk.header = h;
  st->disk.header_original = false;
}

void WriteAt(RunState* st, int64_t pos, const std::vector<uint8_t>& bytes) {
  test(pos + static_cast<int64_t>(bytes.size()) <= krf::kMaxOffset);
  test(st->krf.WriteAt(pos, bytes.data(), bytes.size()));
  st->disk.file_size = std::max(st->disk.file_size, pos + static_cast<int64_t>(bytes.size()));
}

void LockArchive(RunState* st, host::File* f) {
  const bool exclusive = !st->read_only;
  if (f->Lock(exclusive, false)) return;
  std::fprintf(st->out, "waiting for another run on '%s' to finish...\n",
               st->settings.name[0].c_str());
  std::fflush(st->out);
  test(f->Lock(exclusive, true));
}

}  // namespace

void OpenArchive(RunState* st) {
  const std::string& shown = st->settings.name[0];
  // Only adding makes a new archive: a misspelt name must not pass silently.
  const bool may_create = st->settings.action == kAdd;
  st->krf_path = host::ResolvePath(shown);
  // Each pass either opens the archive or finds out why not; only a file
  // that another run renamed over or created meanwhile sends it round again.
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    host::File f;
    if (f.Open(st->krf_path,
               st->read_only ? host::File::Mode::kRead : host::File::Mode::kReadWrite)) {
      LockArchive(st, &f);
      // A compaction by the run we waited for renames a new file over the
      // name; the lock then belongs to the old one.
      if (!f.IsAt(st->krf_path)) continue;
      st->krf = std::move(f);
      st->krf_target = host::FileBehind(st->krf_path);
      return;
    }
    const int error = errno;
    if (error == host::kNotRegularFile) {
      throw Fatal("Couldn't open '" + shown + "': not a regular file !\n");
    }
    if (error == host::kInUse) {
      throw Fatal("Couldn't open '" + shown + "': " + host::ErrorText(error) + " !\n");
    }
    const bool missing = error == ENOENT;
    if (!may_create) {
      throw Fatal("Couldn't open '" + shown + "': " +
                  (missing ? std::string("no such file") : host::ErrorText(error)) + " !\n");
    }
    std::fprintf(st->out, "creating '%s'...\n", shown.c_str());
    // An archive that exists but cannot be opened (no permission, a folder)
    // is never emptied: it would be the user's data.
    if (!missing) throw Fatal("Couldn't create file !\n");
    uint8_t header[krf::kHeaderSize];
    krf::EncodeHeader(krf::NewHeader(), header);
    if (host::CreateNewFile(st->krf_path, header, sizeof header, &f)) {
      st->krf = std::move(f);
      st->krf_target = host::FileBehind(st->krf_path);
      return;
    }
    if (errno != EEXIST) throw Fatal("Couldn't create file !\n");
    // Missing, yet the name exists: a symbolic link that leads nowhere. A new
    // archive is never made through a link.
    if (host::IsSymbolicLink(st->krf_path)) {
      throw Fatal("Couldn't create file: '" + shown + "' is a symbolic link to nothing !\n");
    }
    // Otherwise another run created it a moment ago: open that one.
  }
  throw Fatal("Couldn't open '" + shown + "': it keeps changing !\n");
}

void ReadHeader(RunState* st) {
  const int64_t size = st->krf.Size();
  test(size >= 0);
  st->disk.file_size = size;
  st->disk.original_size = size;
  test(size >= static_cast<int64_t>(krf::kHeaderSize));
  uint8_t bytes[krf::kHeaderSize];
  test(st->krf.ReadExactAt(0, bytes, sizeof bytes));
  st->header = krf::DecodeHeader(bytes);
  st->disk.header = st->header;
}

void read_dir(RunState* st) {
  const int64_t entries = st->header.DirEntries;
  const int64_t dir_ofs = st->header.DirOfs;
  // Everything is checked against the file before anything is allocated.
  test(entries >= 0 && dir_ofs >= static_cast<int64_t>(krf::kHeaderSize) &&
       host::RangeInside(dir_ofs, DirBytes(entries), st->disk.file_size));
  std::vector<uint8_t> bytes(static_cast<size_t>(DirBytes(entries)));
  test(st->krf.ReadExactAt(dir_ofs, bytes.data(), bytes.size()));
  st->dir.resize(static_cast<size_t>(entries));
  // New data goes behind the last byte any entry uses; in an archive this
  // tool finished that is the directory's offset. Space a stopped run left
  // behind the data is so taken back.
  st->last_pos = static_cast<int64_t>(krf::kHeaderSize);
  for (size_t i = 0; i < st->dir.size(); ++i) {
    krfdir_t& e = st->dir[i];
    e = krf::DecodeDirEntry(bytes.data() + i * krf::kDirEntrySize);
    if (e.Ofs >= static_cast<int64_t>(krf::kHeaderSize) &&
        host::RangeInside(e.Ofs, e.Size, dir_ofs)) {
      st->last_pos = std::max<int64_t>(st->last_pos, int64_t{e.Ofs} + e.Size);
    }
  }
}

int64_t DataLimit(const RunState& st, int64_t extra_entries) {
  const int64_t current = DirBytes(st.disk.header.DirEntries);
  const int64_t final_dir = DirBytes(static_cast<int64_t>(st.dir.size()) + extra_entries);
  // Past the data go, at worst, the copy of the current directory (behind
  // the data or the file's end) and the final directory twice (staged
  // behind both, then in its place); every offset must fit the header.
  if (st.disk.file_size + current + final_dir > krf::kMaxOffset) return st.last_pos;
  return krf::kMaxOffset - final_dir - std::max(current, final_dir);
}

void ProtectDirectory(RunState* st, int64_t reach) {
  const int64_t dir_start = st->disk.header.DirOfs;
  const int64_t dir_end = dir_start + DirBytes(st->disk.header.DirEntries);
  if (reach <= 0 || !Overlaps(st->last_pos, st->last_pos + reach, dir_start, dir_end)) return;
  st->disk.original_dir = EncodeDirectory(st->dir);
  st->disk.original_header = st->disk.header;
  const int64_t copy_at = std::max(st->last_pos + reach, st->disk.file_size);
  WriteAt(st, copy_at, st->disk.original_dir);
  CommitHeader(st, copy_at, st->dir.size());
  st->disk.on_copy = true;
}

void finish_krf(RunState* st) {
  if (!st->dir_changed) return;
  const std::vector<uint8_t> bytes = EncodeDirectory(st->dir);
  const int64_t pos = st->last_pos;
  const int64_t end = pos + static_cast<int64_t>(bytes.size());
  const int64_t cur_start = st->disk.header.DirOfs;
  const int64_t cur_end = cur_start + DirBytes(st->disk.header.DirEntries);
  bool committed = true;
  if (Overlaps(pos, end, cur_start, cur_end)) {
    // Overwriting the directory the header points at would leave no valid
    // directory for a moment: put the new one beyond both first.
    const int64_t staging = std::max(cur_end, end);
    if (staging + static_cast<int64_t>(bytes.size()) <= krf::kMaxOffset) {
      WriteAt(st, staging, bytes);
      CommitHeader(st, staging, st->dir.size());
      st->disk.on_copy = false;
    } else {
      committed = false;
    }
  }
  if (committed) {
    WriteAt(st, pos, bytes);
    CommitHeader(st, pos, st->dir.size());
    st->disk.on_copy = false;
    test(st->krf.Truncate(end));
    st->disk.file_size = end;
  } else if (!st->need_upd) {
    throw Fatal(kReadWriteError);
  }
  st->header.DirOfs = static_cast<int32_t>(pos);
  st->header.DirEntries = static_cast<int32_t>(st->dir.size());
  if (st->need_upd) update_krf(st);
}

void update_krf(RunState* st) {
  std::fputs("Updating files......\n", st->out);
  ShowProgress(st);
  // The compacted archive replaces the file the archive's name leads to:
  // through a symbolic link, the link stays and its target is replaced.
  host::TempFile tmp;
  if (!tmp.Create(host::HostDirName(st->krf_target), krf::kTempName, st->krf, kOpenAttempts)) {
    throw Fatal("Cannot create update file !!\n");
  }

  host::BufferedWriter writer(&tmp.file(), kCopyChunk);
  uint8_t header_bytes[krf::kHeaderSize];
  krf::EncodeHeader(st->header, header_bytes);
  writer.Write(header_bytes, sizeof header_bytes);

  std::vector<krfdir_t> kept;
  std::vector<uint8_t> chunk(kCopyChunk);
  const int64_t archive_size = st->krf.Size();
  int64_t pos = static_cast<int64_t>(krf::kHeaderSize);
  for (const krfdir_t& e : st->dir) {
    if (!krf::IsLive(e.Type)) continue;
    test(e.Size > 0 && host::RangeInside(e.Ofs, e.Size, archive_size) &&
         pos + e.Size <= krf::kMaxOffset);
    krfdir_t moved = e;
    moved.Ofs = static_cast<int32_t>(pos);
    for (int64_t done = 0; done < e.Size;) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(e.Size - done, kCopyChunk));
      test(st->krf.ReadExactAt(e.Ofs + done, chunk.data(), n));
      writer.Write(chunk.data(), n);
      done += static_cast<int64_t>(n);
      ShowProgress(st);
    }
    pos += e.Size;
    kept.push_back(moved);
  }
  const std::vector<uint8_t> dir_bytes = EncodeDirectory(kept);
  test(pos + static_cast<int64_t>(dir_bytes.size()) <= krf::kMaxOffset);
  writer.Write(dir_bytes.data(), dir_bytes.size());
  test(writer.Flush());

  krfheader_t compacted = st->header;
  compacted.DirEntries = static_cast<int32_t>(kept.size());
  compacted.DirOfs = static_cast<int32_t>(pos);
  krf::EncodeHeader(compacted, header_bytes);
  test(tmp.file().WriteAt(0, header_bytes, sizeof header_bytes));
  test(tmp.file().Sync());
  // Only the archive this run read and locked is replaced.
  test(st->krf.IsAt(st->krf_target));
  test(tmp.ReplaceOver(st->krf_target, &st->krf));
  st->krf.Close();
}

void RollBack(RunState* st) noexcept {
  DiskState& d = st->disk;
  if (!st->krf.is_open() || st->read_only || d.original_size < 0) return;
  if (d.on_copy) {
    // The header points at the copy; the original place of the directory
    // holds new blocks that nothing refers to. Put the directory back there.
    uint8_t bytes[krf::kHeaderSize];
    krf::EncodeHeader(d.original_header, bytes);
    if (!st->krf.WriteAt(d.original_header.DirOfs, d.original_dir.data(), d.original_dir.size()) ||
        !st->krf.Sync() || !st->krf.WriteAt(0, bytes, sizeof bytes) || !st->krf.Sync()) {
      return;  // the copy stays in charge: still a valid archive
    }
    d.on_copy = false;
    d.header = d.original_header;
    d.header_original = true;
  }
  // While the header is the one the run began with, everything the run wrote
  // lies where nothing refers to it: cut off what grew the file (new
  // blocks, or a copy of the directory that failed half-way).
  if (d.header_original) st->krf.Truncate(d.original_size);
}

}  // namespace xkrf
