// The settings and state of one xkrf run, and its single fatal path.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "about/about.h"
#include "about/exit_status.h"
#include "about/fatal.h"
#include "host/file.h"
#include "host/process.h"
#include "xkrf/entry_path.h"  // the name helpers, for everything that matches names
#include "xkrf/krf_format.h"

namespace xkrf {

using krf::krfdir_t;
using krf::krfheader_t;

using about::kExitFatal;
using about::kExitOk;
using about::kExitSkipped;

enum Action { kAdd = 1, kDelete = 2, kList = 3, kExtract = 4, kTest = 5 };

using about::kReadWriteError;

// Every failure of a run is an about::Fatal: its message is printed, then
// the closing screen, and the run ends with kExitFatal.
using about::Fatal;
using about::test;

struct Settings {
  int action = kAdd;
  int compress = krf::kMethodRle;  // the method bits new entries get: kMethodNone or kMethodRle
  bool subdirs = false;
  // name[0]: the archive's host path, lower-cased, ".krf" appended.
  // name[1]: the file mask, lower-cased, with '\' as its only separator.
  std::string name[2];
  std::string mask_path;  // name[1] up to and including its last '\'
};

// Where the header on disk points while a run changes the archive. Adding
// writes new blocks over the old directory only after a copy of that
// directory is safe beyond them; the header is rewritten only after what it
// points at has reached the disk, so the archive opens whatever instant the
// run stops at.
struct DiskState {
  krfheader_t header;  // the header as it is on disk now
  int64_t file_size = 0;
  // Set while the header points at a relocated copy of the directory that
  // the run started with; a failed run can then restore the original.
  bool on_copy = false;
  bool header_original = true;        // the header on disk is the one read at the start
  std::vector<uint8_t> original_dir;  // the original directory's bytes
  krfheader_t original_header;
  int64_t original_size = -1;  // unknown until the archive is open
};

struct RunState {
  Settings settings;
  std::FILE* out = nullptr;
  // Progress lines are pushed out at once only where someone watches them;
  // into a pipe or a file the same bytes go in large writes.
  bool interactive = false;

  std::string krf_path;    // the archive as found on the host
  std::string krf_target;  // the file krf_path leads to, symbolic links followed
  host::File krf;
  bool read_only = false;
  krfheader_t header;
  std::vector<krfdir_t> dir;
  int64_t last_pos = 0;
  bool need_upd = false;
  bool dir_changed = false;
  host::FlushPacer pacer;
  int progressed = 0;
  int skipped = 0;       // things asked for that the run skipped, each with its message
  bool damaged = false;  // the test action found an entry that is not sound
  DiskState disk;

  // Live entries by exact name: the first live entry of each name.
  std::unordered_map<std::string, size_t> live_index;
};

// Pushes out the progress text printed so far: at once on a terminal,
// else every quarter of a second. Cheap enough to call once per file or
// per megabyte handled.
inline void ShowProgress(RunState* st) {
  if (st->interactive || st->pacer.Due()) std::fflush(st->out);
}

// Prints why something asked for is skipped; the run then ends with
// kExitSkipped.
inline void Skip(RunState* st, const std::string& message) {
  std::fputs(message.c_str(), st->out);
  ++st->skipped;
}

}  // namespace xkrf
