// Runs of xkrf killed with SIGKILL at many instants, from the first change
// it makes on disk to the rename that ends a compaction. Where ptrace is
// allowed, the kill points are exact: the run is stopped on entry to its
// n-th system call that changes a file (a write, sync, truncation, rename,
// link, unlink or creation) and killed there, for n spread over all of
// them. Further kill points fall at instants spread over the run's
// duration, which also catch a run in the middle of a system call.
//
// After every kill: the archive opens (for the tests' reader and for the
// tool), every entry it lists reads back whole and extracts bit-exact, its
// live entries are the old set or a state the run reached on its way (the
// run's changes applied in order up to some point), and the next runs (an
// add, then a deletion with its compaction) succeed and leave a finished
// archive, whatever the killed run left behind.
//
// KRF_KILL_POINTS sets the number of kill points (12 unless set); the long
// variant runs 300: KRF_KILL_POINTS=300 ctest -R ReliabilityKill
#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "reliability_support.h"
#include "xkrf_archive.h"
#include "xkrf_run.h"

namespace reliability {
namespace {

using e2e::ScratchDir;
using xkrf_test::Xkrf;

// ---- Starting, tracing and killing a run --------------------------------

bool ChangesFiles(const __ptrace_syscall_info& info) {
  const uint64_t nr = info.entry.nr;
  const uint64_t* arg = info.entry.args;
  const auto creates = [](uint64_t flags) {
    return (flags & (O_CREAT | O_TRUNC)) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
  };
  switch (nr) {
    case SYS_write:
    case SYS_pwrite64:
    case SYS_writev:
    case SYS_pwritev:
    case SYS_pwritev2:
      return arg[0] > 2;  // the console does not count
    case SYS_fsync:
    case SYS_fdatasync:
    case SYS_ftruncate:
    case SYS_fallocate:
    case SYS_copy_file_range:
    case SYS_renameat:
    case SYS_renameat2:
    case SYS_linkat:
    case SYS_unlinkat:
    case SYS_mkdirat:
#ifdef SYS_rename
    case SYS_rename:
    case SYS_link:
    case SYS_unlink:
    case SYS_mkdir:
#endif
      return true;
    case SYS_openat:
      return creates(arg[2]);
#ifdef SYS_open
    case SYS_open:
      return creates(arg[1]);
#endif
    default:
      return false;
  }
}

// Starts xkrf in `cwd` with no console. A traced child stops at its exec
// for the tracer.
pid_t Start(const std::vector<std::string>& args, const std::string& cwd, bool traced) {
  return Spawn(XKRF_BIN, args, cwd, -1, [traced] {
    if (!traced) return;
    // The leak check at exit would try to trace the process itself.
    const char* asan = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str(), 1);
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(125);
  });
}

struct TracedRun {
  bool traced = false;    // false: ptrace is not allowed here
  bool finished = false;  // the run ended by itself (before `stop_at`)
  int exit_code = -1;
  int64_t changes = 0;  // system calls that change files, up to the kill
  // Writes of the archive's header, and whether each came right after and
  // right before an fdatasync of the archive: kill -9 keeps the page cache,
  // so only this order shows that a power cut would find what the header
  // points at on the disk.
  int64_t header_writes = 0;
  bool headers_fenced = true;
};

// Whether `fd` of the traced process is the archive.
bool IsArchiveFd(pid_t pid, uint64_t fd) {
  std::error_code error;
  const std::string target = std::filesystem::read_symlink(
      "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd), error);
  return !error && std::filesystem::path(target).filename() == "data.krf";
}

// Runs xkrf under ptrace and kills it on entry to its `stop_at`-th system
// call that changes a file, before that call runs; stop_at 0 lets it finish.
TracedRun RunTraced(const std::vector<std::string>& args, const std::string& cwd, int64_t stop_at) {
  TracedRun run;
  const pid_t pid = Start(args, cwd, true);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFSTOPPED(status)) {  // PTRACE_TRACEME refused: the child gave up
    run.exit_code = ExitCode(status);
    return run;
  }
  run.traced = true;
  ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
  int signal_to_pass = 0;
  bool last_was_sync = false;   // the last changing call was an fdatasync of the archive
  bool header_pending = false;  // the last changing call wrote the archive's header
  for (;;) {
    ptrace(PTRACE_SYSCALL, pid, nullptr, signal_to_pass);
    signal_to_pass = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
      run.finished = true;
      run.exit_code = ExitCode(status);
      return run;
    }
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
      signal_to_pass = WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status);
      continue;
    }
    __ptrace_syscall_info info{};
    if (ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) <= 0 ||
        info.op != PTRACE_SYSCALL_INFO_ENTRY || !ChangesFiles(info)) {
      continue;
    }
    const uint64_t nr = info.entry.nr;
    const uint64_t* arg = info.entry.args;
    const bool sync = nr == SYS_fdatasync && IsArchiveFd(pid, arg[0]);
    if (header_pending && !sync) run.headers_fenced = false;
    header_pending = false;
    if (nr == SYS_pwrite64 && arg[3] == 0 && arg[2] == xkrf_test::kHeaderSize &&
        IsArchiveFd(pid, arg[0])) {
      ++run.header_writes;
      if (!last_was_sync) run.headers_fenced = false;
      header_pending = true;
    }
    last_was_sync = sync;
    if (++run.changes == stop_at) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      run.exit_code = ExitCode(status);
      return run;
    }
  }
}

// Runs xkrf without tracing and kills it after `delay`, unless it ended
// before.
void RunTimed(const std::vector<std::string>& args, const std::string& cwd,
              std::chrono::microseconds delay) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = Start(args, cwd, false);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() - start >= delay) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
}

// ---- What a run may leave behind ----------------------------------------

// One change a run makes: `name` gets `after` (or goes away when `removed`).
struct Change {
  std::string name;
  Bytes after;
  bool removed = false;
};

// The states a run passes through: `before`, then its changes applied in
// order. Returns the number of changes applied in `live`, or -1 (with the
// reason) when `live` is none of those states.
int StateReached(const Contents& before, const std::vector<Change>& changes, const Contents& live,
                 std::string* why) {
  std::set<std::string> changed;
  int applied = 0;
  bool gap = false;
  for (size_t i = 0; i < changes.size(); ++i) {
    const Change& c = changes[i];
    changed.insert(c.name);
    const auto now = live.find(c.name);
    const auto old = before.find(c.name);
    const bool is_new = c.removed ? now == live.end() : now != live.end() && now->second == c.after;
    const bool is_old =
        old == before.end() ? now == live.end() : now != live.end() && now->second == old->second;
    if (is_new && !gap) {
      ++applied;
    } else if (is_old) {
      gap = true;
    } else {
      *why = c.name + (is_new ? " is changed although an earlier change is not"
                              : " holds neither its old nor its new content");
      return -1;
    }
  }
  for (const auto& [name, bytes] : before) {
    if (changed.count(name)) continue;
    const auto now = live.find(name);
    if (now == live.end() || now->second != bytes) {
      *why = name + " was not to change but is " + (now == live.end() ? "gone" : "different");
      return -1;
    }
  }
  for (const auto& [name, bytes] : live) {
    if (!before.count(name) && !changed.count(name)) {
      *why = name + " should not be in the archive";
      return -1;
    }
  }
  return applied;
}

// The stored names a run adds, in the order it adds them, read from the
// transcript of a run that was not interrupted.
std::vector<std::string> AddedNames(const std::string& transcript, const std::string& mask_path) {
  std::vector<std::string> names;
  std::vector<std::string> folders;
  std::istringstream lines(transcript);
  std::string line;
  const auto quoted = [](const std::string& l) {
    const size_t open = l.find('\'');
    return l.substr(open + 1, l.find('\'', open + 1) - open - 1);
  };
  while (std::getline(lines, line)) {
    if (line.rfind("Entering sub-directory '", 0) == 0) {
      folders.push_back(quoted(line));
    } else if (line.rfind("Leaving sub-directory '", 0) == 0) {
      folders.pop_back();
    } else if (line.rfind("adding '", 0) == 0) {
      std::string name = quoted(line);
      if (!folders.empty()) {
        std::string prefix = mask_path;
        for (const std::string& f : folders) prefix += f + "\\";
        name = prefix + name;
      }
      names.push_back(name);
    }
  }
  return names;
}

// ---- The scenarios --------------------------------------------------------

// One killed run: where it runs, its arguments, the archive it starts from
// and the changes it makes.
struct Scenario {
  std::string what;
  std::string cwd;  // relative to the work folder
  std::vector<std::string> args;
  Contents before;
  std::vector<Change> changes;
  int64_t syscalls = 0;  // changing system calls of a whole run
  std::chrono::microseconds duration{0};
};

class ReliabilityKill : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* points = std::getenv("KRF_KILL_POINTS");
    points_ = points ? std::max(1, std::atoi(points)) : kDefaultPoints;
    BuildBase();
  }

  // The archive every killed run starts from, packed by the tool itself from
  // 40 files, a few of them in a sub-folder.
  void BuildBase() {
    for (int i = 0; i < 40; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "%se%02d.bin", i < 32 ? "" : "sub/", i);
      const Bytes content = Sample(1500 + 997 * static_cast<size_t>(i % 13), 100 + i, i % 3 != 0);
      e2e::WriteFile(dir_ / ("base/" + std::string(name)), content);
      std::string stored = name;
      std::replace(stored.begin(), stored.end(), '/', '\\');
      base_contents_[stored] = content;
    }
    const e2e::RunResult r = Xkrf({"../base", "*.bin", "-subs"}, dir_ / "base");
    ASSERT_EQ(r.exit_code, 0) << r.out;
    base_ = e2e::ReadFile(dir_ / "base.krf");
    ASSERT_TRUE(xkrf_test::IsFinishedArchive(dir_ / "base.krf"));
    e2e::WriteFile(dir_ / "work/extra/extra.bin", Sample(5000, 9, true));
  }

  // Adding 120 new files and 16 that replace entries (half of them larger,
  // so their slot moves; half smaller, so it is kept): the directory is
  // moved aside, the data written over it, the directory rewritten, and the
  // archive compacted.
  Scenario AddWithReplacements() {
    Scenario s{
        "add with replacements", "work/in", {"../data", "*.bin", "-subs"}, base_contents_, {}};
    for (int i = 0; i < 120; ++i) {
      const std::string name = (i % 10 == 9 ? "sub/n" : "n") + std::to_string(1000 + i) + ".bin";
      e2e::WriteFile(dir_ / (s.cwd + "/" + name),
                     Sample(300 + 211 * static_cast<size_t>(i % 37), 500 + i, i % 4 != 0));
    }
    for (int i = 0; i < 16; ++i) {
      const int target = i * 5 / 2;
      char name[32];
      std::snprintf(name, sizeof name, "%se%02d.bin", target < 32 ? "" : "sub/", target);
      std::string stored = name;
      std::replace(stored.begin(), stored.end(), '/', '\\');
      const size_t old_size = base_contents_.at(stored).size();
      const size_t size = i % 2 == 0 ? old_size + 3000 : old_size / 2;
      e2e::WriteFile(dir_ / (s.cwd + "/" + name), Sample(size, 900 + i, i % 3 == 0));
    }
    return s;
  }

  // Deleting 10 entries: the directory is rewritten with the flags, then
  // the archive is compacted through xkrf1308.$$$ renamed over it.
  Scenario Delete() { return {"delete", "work", {"data", "e1*.bin", "-del"}, base_contents_, {}}; }

  // Adding 60 new files stored as they are: no compaction, but the
  // directory moves aside and back.
  Scenario AddStored() {
    Scenario s{"add stored", "work/raw", {"../data", "*.dat", "-none"}, base_contents_, {}};
    for (int i = 0; i < 60; ++i) {
      e2e::WriteFile(dir_ / (s.cwd + "/r" + std::to_string(100 + i) + ".dat"),
                     Sample(700 + 331 * static_cast<size_t>(i % 17), 2000 + i, i % 2 == 0));
    }
    return s;
  }

  void RestoreArchive() { e2e::WriteFile(dir_ / "work/data.krf", base_); }

  // Runs the scenario once untouched and once traced to the end: both must
  // succeed and leave the same finished archive. Fills in the changes, the
  // count of changing system calls (0 without ptrace) and the duration.
  void Measure(Scenario* s) {
    RestoreArchive();
    const auto start = std::chrono::steady_clock::now();
    const e2e::RunResult r = Xkrf(s->args, dir_ / s->cwd);
    s->duration = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    ASSERT_EQ(r.exit_code, 0) << r.out;
    ASSERT_TRUE(xkrf_test::IsFinishedArchive(dir_ / "work/data.krf"));
    const Contents after = ReadableLiveContents(dir_ / "work/data.krf");
    if (s->args.back() == "-del") {
      // Entries go in directory order.
      for (const xkrf_test::Entry& e : xkrf_test::LoadArchive(dir_ / "base.krf").entries) {
        if (!after.count(e.name)) s->changes.push_back({e.name, {}, true});
      }
    } else {
      for (const std::string& name : AddedNames(r.out, "")) {
        ASSERT_TRUE(after.count(name)) << name;
        s->changes.push_back({name, after.at(name), false});
      }
    }
    std::string why;
    ASSERT_EQ(StateReached(s->before, s->changes, after, &why), static_cast<int>(s->changes.size()))
        << why;

    RestoreArchive();
    const TracedRun traced = RunTraced(s->args, dir_ / s->cwd, 0);
    if (traced.traced) {
      ASSERT_TRUE(traced.finished);
      ASSERT_EQ(traced.exit_code, 0);
      EXPECT_GT(traced.header_writes, 0);
      EXPECT_TRUE(traced.headers_fenced) << "a header write without an fdatasync on each side";
      ASSERT_TRUE(ReadableLiveContents(dir_ / "work/data.krf") == after);
      s->syscalls = traced.changes;
    }
  }

  // Everything a kill must leave true; `label` names the kill point.
  void CheckAfterKill(const Scenario& s, const std::string& label) {
    SCOPED_TRACE(s.what + ", " + label);
    const std::string archive = dir_ / "work/data.krf";
    xkrf_test::Archive parsed;
    std::string why;
    ASSERT_TRUE(xkrf_test::ParseArchive(e2e::ReadFile(archive), &parsed, &why)) << why;
    ASSERT_TRUE(EntriesReadable(parsed));
    const Contents live = LiveContents(parsed);
    const int applied = StateReached(s.before, s.changes, live, &why);
    ASSERT_GE(applied, 0) << why;
    states_seen_[s.what].insert(applied);

    // The tool opens it and extracts every entry it lists bit-exact (for a
    // name listed twice, the later entry is the file that remains).
    const e2e::RunResult listed = Xkrf({"data", "-list"}, dir_ / "work");
    ASSERT_EQ(listed.exit_code, 0) << listed.out;
    e2e::MakeDirs(dir_ / "check");
    e2e::WriteFile(dir_ / "check/data.krf", e2e::ReadFile(archive));
    const e2e::RunResult extracted = Xkrf({"data", "*.*", "-subs", "-ext"}, dir_ / "check");
    ASSERT_EQ(extracted.exit_code, 0) << extracted.out;
    for (const xkrf_test::Entry& e : parsed.entries) {
      std::string path = e.name;
      std::replace(path.begin(), path.end(), '\\', '/');
      Bytes last;
      for (const xkrf_test::Entry& later : parsed.entries) {
        if (later.name == e.name) last = parsed.Content(later);
      }
      EXPECT_EQ(e2e::ReadFile(dir_ / ("check/" + path)), last) << e.name << " extracts differently";
    }
    std::filesystem::remove_all(dir_ / "check");

    // The next runs are not disturbed by anything the killed one left.
    const e2e::RunResult add = Xkrf({"../data", "extra.bin"}, dir_ / "work/extra");
    ASSERT_EQ(add.exit_code, 0) << add.out;
    Contents expected = live;
    expected["extra.bin"] = e2e::ReadFile(dir_ / "work/extra/extra.bin");
    EXPECT_TRUE(ReadableLiveContents(archive) == expected) << "after a further add";
    const e2e::RunResult del = Xkrf({"../data", "extra.bin", "-del"}, dir_ / "work/extra");
    ASSERT_EQ(del.exit_code, 0) << del.out;
    EXPECT_TRUE(xkrf_test::IsFinishedArchive(archive)) << "after a further deletion";
    EXPECT_TRUE(ReadableLiveContents(archive) == live) << "after a further deletion";
    EXPECT_FALSE(e2e::Exists(dir_ / ("work/" + std::string(xkrf_test::kTempName))));
    ++survived_;
  }

  ScratchDir dir_;
  static constexpr int kDefaultPoints = 12;  // four per scenario on average
  int points_ = kDefaultPoints;
  Bytes base_;
  Contents base_contents_;
  std::map<std::string, std::set<int>> states_seen_;
  int survived_ = 0;
};

// Picks `count` of the system calls 1..total to stop at: the last three (a
// run's final commit, rename and sync) always, the others spread evenly
// from the first on.
std::vector<int64_t> Spread(int64_t total, int64_t count) {
  count = std::min(count, total);
  std::vector<int64_t> points;
  for (int64_t i = 0; i < std::min<int64_t>(count, 3); ++i) points.push_back(total - i);
  const int64_t rest = count - static_cast<int64_t>(points.size());
  for (int64_t i = 0; i < rest; ++i) {
    points.push_back(rest == 1 ? 1 : 1 + i * (total - 4) / (rest - 1));
  }
  std::sort(points.begin(), points.end());
  return points;
}

TEST_F(ReliabilityKill, KilledRunsLeaveTheOldOrAReachedState) {
  std::vector<Scenario> scenarios = {AddWithReplacements(), Delete(), AddStored()};
  int64_t syscalls = 0;
  for (Scenario& s : scenarios) {
    Measure(&s);
    if (HasFatalFailure()) return;
    syscalls += s.syscalls;
  }
  // Each scenario gets a share of the points in proportion to its changing
  // system calls (equal shares without ptrace). A fifth of a share, at least
  // one, is timed; the rest are exact, at most one per system call, and the
  // exact points a scenario has no system call for are timed too.
  std::vector<int64_t> shares;
  int64_t given = 0;
  for (const Scenario& s : scenarios) {
    const int64_t share = syscalls > 0 ? points_ * s.syscalls / syscalls
                                       : points_ / static_cast<int64_t>(scenarios.size());
    shares.push_back(std::max<int64_t>(share, 3));
    given += shares.back();
  }
  shares[0] += std::max<int64_t>(points_ - given, 0);
  int exact = 0, timed = 0;
  for (size_t k = 0; k < scenarios.size(); ++k) {
    const Scenario& s = scenarios[k];
    const int64_t timed_share = std::max<int64_t>(shares[k] / 5, 1);
    const std::vector<int64_t> stops = Spread(s.syscalls, shares[k] - timed_share);
    for (const int64_t stop : stops) {
      RestoreArchive();
      const TracedRun run = RunTraced(s.args, dir_ / s.cwd, stop);
      ASSERT_FALSE(run.finished) << s.what << ": the run ended before system call " << stop;
      CheckAfterKill(s, "killed on entry to changing system call " + std::to_string(stop) + " of " +
                            std::to_string(s.syscalls));
      if (HasFatalFailure()) return;
      ++exact;
    }
    const int64_t delays = shares[k] - static_cast<int64_t>(stops.size());
    for (int64_t i = 0; i < delays; ++i) {
      RestoreArchive();
      const auto delay = s.duration * (i + 1) / (delays + 1);
      RunTimed(s.args, dir_ / s.cwd, delay);
      CheckAfterKill(s, "killed after " + std::to_string(delay.count()) + " us of " +
                            std::to_string(s.duration.count()));
      if (HasFatalFailure()) return;
      ++timed;
    }
  }
  std::string reached;
  for (const Scenario& s : scenarios) {
    reached += " " + s.what + ": " + std::to_string(s.syscalls) + " changing system calls, " +
               std::to_string(states_seen_[s.what].size()) + " distinct states seen;";
  }
  std::printf("kill points survived: %d (%d exact, %d timed; ptrace %s);%s\n", survived_, exact,
              timed, syscalls > 0 ? "used" : "not allowed here", reached.c_str());
  EXPECT_EQ(survived_, exact + timed);
  EXPECT_GE(survived_, points_);
}

}  // namespace
}  // namespace reliability
