// Extracting: directories created on the way, decoding, names that must not
// be written, and damaged entries.
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "xkrf_archive.h"
#include "xkrf_run.h"

namespace xkrf_test {
namespace {

using e2e::ScratchDir;

std::string CreatedPath(const std::string& path) { return "created path " + path + "...\n"; }

// Every path below `root`, relative to it, sorted.
std::vector<std::string> Tree(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    out.push_back(std::filesystem::relative(e.path(), root).generic_string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

Crafted RleEntry(const std::string& name, const Bytes& content) {
  return {name, kLive | kRle, EncodeRle(content), static_cast<int32_t>(content.size())};
}

TEST(XkrfExtract, CreatesEveryMissingDirectoryAndDecodes) {
  ScratchDir dir;
  const Bytes top = e2e::RandomBytes(33, 1);
  const Bytes logo(700, 0xC3);
  const Bytes more = e2e::RandomBytes(10, 2);
  const Bytes c_dat(150, 0);
  const Bytes e_dat = e2e::RandomBytes(5, 3);
  e2e::WriteFile(dir / "data.krf", BuildArchive({{"top.bin", kLive | kNone, top},
                                                 RleEntry("pics\\logo.pcx", logo),
                                                 {"pics\\more.pcx", kLive | kNone, more},
                                                 RleEntry("a\\b\\c.dat", c_dat),
                                                 {"a\\b\\d\\e.dat", kLive | kNone, e_dat}}));
  e2e::WriteFile(dir / "top.bin", std::string(1000, 'o'));  // replaced
  ExpectTranscript(Xkrf({"data", "*.*", "-ext", "-subs"}, dir.path()), 0,
                   Summary("ext, subs, ", "data.krf", "*.*") + Contains(5) + Extracting("top.bin") +
                       CreatedPath("pics\\") + Extracting("pics\\logo.pcx") +
                       Extracting("pics\\more.pcx") + CreatedPath("a\\b\\") +
                       Extracting("a\\b\\c.dat") + CreatedPath("a\\b\\d\\") +
                       Extracting("a\\b\\d\\e.dat") + Finish(5));
  EXPECT_EQ(e2e::ReadFile(dir / "top.bin"), top);
  EXPECT_EQ(e2e::ReadFile(dir / "pics/logo.pcx"), logo);
  EXPECT_EQ(e2e::ReadFile(dir / "pics/more.pcx"), more);
  EXPECT_EQ(e2e::ReadFile(dir / "a/b/c.dat"), c_dat);
  EXPECT_EQ(e2e::ReadFile(dir / "a/b/d/e.dat"), e_dat);
}

TEST(XkrfExtract, ExistingDirectoryIsReachedWhateverItsCase) {
  ScratchDir dir;
  e2e::MakeDirs(dir / "Pics");
  e2e::WriteFile(dir / "data.krf",
                 BuildArchive({{"pics\\logo.pcx", kLive | kNone, Bytes(9, 'l')}}));
  ExpectTranscript(Xkrf({"data", "pics/*.pcx", "-ext"}, dir.path()), 0,
                   Summary("ext, ", "data.krf", "pics\\*.pcx", "pics\\") + Contains(1) +
                       Extracting("pics\\logo.pcx") + Finish(1));
  EXPECT_EQ(e2e::ReadFile(dir / "Pics/logo.pcx"), Bytes(9, 'l'));
  EXPECT_EQ(DirNames(dir.path()), (std::vector<std::string>{"Pics", "data.krf"}));
}

// Selection does not look at the live bit, and only the RLE bit decides
// about decoding.
TEST(XkrfExtract, EveryTypeIsWrittenByItsMethodBit) {
  ScratchDir dir;
  const Bytes runny(130, 7);
  e2e::WriteFile(dir / "data.krf", BuildArchive({{"gone.bin", kNone, Bytes(4, 'g')},
                                                 {"gone_rle.bin", kRle, EncodeRle(runny), 130},
                                                 {"odd.bin", kLive, Bytes(3, 0xC5)}}));
  ExpectTranscript(Xkrf({"data", "*.bin", "-ext"}, dir.path()), 0,
                   Summary("ext, ", "data.krf", "*.bin") + Contains(3) + Extracting("gone.bin") +
                       Extracting("gone_rle.bin") + Extracting("odd.bin") + Finish(3));
  EXPECT_EQ(e2e::ReadFile(dir / "gone.bin"), Bytes(4, 'g'));
  EXPECT_EQ(e2e::ReadFile(dir / "gone_rle.bin"), runny);
  EXPECT_EQ(e2e::ReadFile(dir / "odd.bin"), Bytes(3, 0xC5));
}

TEST(XkrfExtract, DecodedLengthMustMatch) {
  const struct {
    std::string what;
    Bytes stored;
    int32_t raw_len;
    std::string failure;  // empty: extracted
    Bytes written;
  } cases[] = {
      {"short", {0xC3, 0x41}, 5, "filesizes mismatched after decoding (3, should be 5)!\n", {}},
      {"long",
       {0xC3, 0x41, 0x42},
       2,
       "filesizes mismatched after decoding (4, should be 2)!\n",
       {}},
      {"empty unit", {0xC0, 0x41, 0x42, 0x43}, 2, "", {0x42, 0x43}},
      {"dangling count byte", {0x41, 0x42, 0xC5}, 2, "", {0x41, 0x42}},
      {"dangling count byte, short",
       {0x41, 0x42, 0xC5},
       3,
       "filesizes mismatched after decoding (2, should be 3)!\n",
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    e2e::WriteFile(dir / "data.krf", BuildArchive({{"a.bin", kLive | kNone, Bytes(6, 'a')},
                                                   {"x.bin", kLive | kRle, c.stored, c.raw_len},
                                                   {"z.bin", kLive | kNone, Bytes(6, 'z')}}));
    const std::string start = Summary("ext, ", "data.krf", "*.bin") + Contains(3) +
                              Extracting("a.bin") + "extracting x.bin...";
    if (c.failure.empty()) {
      ExpectTranscript(Xkrf({"data", "*.bin", "-ext"}, dir.path()), 0,
                       start + "\n" + Extracting("z.bin") + Finish(3));
      EXPECT_EQ(e2e::ReadFile(dir / "x.bin"), c.written);
    } else {
      ExpectTranscript(Xkrf({"data", "*.bin", "-ext"}, dir.path()), 1,
                       start + c.failure + kClosing);
      EXPECT_FALSE(e2e::Exists(dir / "x.bin"));
      EXPECT_FALSE(e2e::Exists(dir / "z.bin"));
    }
    EXPECT_EQ(e2e::ReadFile(dir / "a.bin"), Bytes(6, 'a'));
  }
}

TEST(XkrfExtract, EntryOutsideTheFileIsFatal) {
  const struct {
    std::string what;
    int field;
    int32_t value;
  } cases[] = {
      {"offset behind the end", kOfsField, 5000},
      {"negative offset", kOfsField, -8},
      {"size behind the end", kSizeField, 0x7fffffff},
      {"negative size", kSizeField, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    Bytes archive = BuildArchive(
        {{"a.bin", kLive | kNone, Bytes(6, 'a')}, {"x.bin", kLive | kNone, Bytes(6, 'x')}});
    PatchEntry(&archive, 1, c.field, c.value);
    e2e::WriteFile(dir / "data.krf", archive);
    ExpectTranscript(Xkrf({"data", "*.bin", "-ext"}, dir.path()), 1,
                     Summary("ext, ", "data.krf", "*.bin") + Contains(2) + Extracting("a.bin") +
                         "extracting x.bin..." + kFatal + kClosing);
    EXPECT_FALSE(e2e::Exists(dir / "x.bin"));
    EXPECT_EQ(e2e::ReadFile(dir / "data.krf"), archive);
  }
}

// Files are written on a second thread while the next entries are read: what
// is in the way, and a failure, must show as on one thread, and the run
// ends at the entry that failed, nothing written after it.
TEST(XkrfExtract, OutputThatCannotBeCreatedIsFatal) {
  const std::string created = "Couldn't create file !\n";
  const struct {
    std::string what;
    std::vector<Crafted> entries;
    int status;
    std::string transcript;  // after the summary
    std::vector<std::string> tree;
  } cases[] = {
      {"a folder in the way",
       {{"a.bin", kLive | kNone, Bytes(6, 'a')},
        {"x.bin", kLive | kNone, Bytes(6, 'x')},
        {"z.bin", kLive | kNone, Bytes(6, 'z')},
        {"sub\\y.bin", kLive | kNone, Bytes(6, 'y')}},
       1,
       Contains(4) + Extracting("a.bin") + "extracting x.bin..." + created + kClosing,
       {"a.bin", "data.krf", "x.bin"}},
      {"a file of the run in the way of a folder",
       {{"w.d", kLive | kNone, Bytes(6, 'w')}, {"w.d\\y.bin", kLive | kNone, Bytes(6, 'y')}},
       1,
       Contains(2) + Extracting("w.d") + "extracting w.d\\y.bin..." + created + kClosing,
       {"data.krf", "w.d", "x.bin"}},
      {"a file of the run under another case",
       {{"b.bin", kLive | kNone, Bytes(6, 'b')}, {"B.BIN", kLive | kNone, Bytes(3, 'B')}},
       0,
       Contains(2) + Extracting("b.bin") + Extracting("B.BIN") + Finish(2),
       {"b.bin", "data.krf", "x.bin"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    e2e::MakeDirs(dir / "x.bin");
    e2e::WriteFile(dir / "data.krf", BuildArchive(c.entries));
    ExpectTranscript(Xkrf({"data", "*.*", "-subs", "-ext"}, dir.path()), c.status,
                     Summary("subs, ext, ", "data.krf", "*.*") + c.transcript);
    EXPECT_EQ(Tree(dir.path()), c.tree);
  }
}

TEST(XkrfExtract, NothingIsWrittenOutsideTheWorkingDirectory) {
  ScratchDir dir;
  e2e::MakeDirs(dir / "w");
  e2e::MakeDirs(dir / "outside");
  std::vector<std::string> unsafe = {"..\\evil1.txt", "a\\..\\..\\evil2.txt", "a\\..\\b.txt", "c:"};
  if (!e2e::kWindows) {  // where ordinary programs make no links
    ASSERT_TRUE(e2e::MakeSymlink("../outside", dir / "w/lnk"));
    unsafe.push_back("lnk\\evil3.txt");
  }
  std::vector<Crafted> entries;
  std::string skipping;
  for (const std::string& name : unsafe) {
    entries.push_back({name, kLive | kNone, Bytes(4, 'e')});
    skipping += "skipping '" + name + "': unsafe path !\n";
  }
  entries.push_back({"safe.txt", kLive | kNone, Bytes(4, 's')});
  e2e::WriteFile(dir / "w/data.krf", BuildArchive(entries));
  const std::vector<std::string> before = Tree(dir.path());

  ExpectTranscript(Xkrf({"data", "*.*", "-subs", "-ext"}, dir / "w"), 2,
                   Summary("subs, ext, ", "data.krf", "*.*") +
                       Contains(static_cast<int>(entries.size())) + skipping +
                       Extracting("safe.txt") + Finish(1));
  std::vector<std::string> expected = before;
  expected.push_back("w/safe.txt");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Tree(dir.path()), expected);
}

TEST(XkrfExtract, RootAndDrivePrefixesAreStripped) {
  ScratchDir dir;
  e2e::MakeDirs(dir / "w");
  e2e::WriteFile(dir / "w/data.krf", BuildArchive({{"\\abs.txt", kLive | kNone, Bytes(3, '1')},
                                                   {"c:\\dir\\f.txt", kLive | kNone, Bytes(3, '2')},
                                                   {"d:rel.txt", kLive | kNone, Bytes(3, '3')}}));
  const std::vector<std::string> before = Tree(dir.path());
  const e2e::RunResult r = Xkrf({"data", "*.*", "-subs", "-ext"}, dir / "w");
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find(Finish(3)), std::string::npos) << r.out;
  EXPECT_EQ(e2e::ReadFile(dir / "w/abs.txt"), Bytes(3, '1'));
  EXPECT_EQ(e2e::ReadFile(dir / "w/dir/f.txt"), Bytes(3, '2'));
  EXPECT_EQ(e2e::ReadFile(dir / "w/rel.txt"), Bytes(3, '3'));
  std::vector<std::string> expected = before;
  for (const char* p : {"w/abs.txt", "w/dir", "w/dir/f.txt", "w/rel.txt"}) expected.push_back(p);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Tree(dir.path()), expected);
}

// The archive is never emptied by one of its own entries; that is not
// something asked for going undone, so the run still ends with status 0.
TEST(XkrfExtract, EntryNamingTheArchiveIsPassedOverWithoutFailing) {
  ScratchDir dir;
  const Bytes archive = BuildArchive(
      {{"data.krf", kLive | kNone, Bytes(5, 'k')}, {"b.bin", kLive | kNone, Bytes(3, 'b')}});
  e2e::WriteFile(dir / "data.krf", archive);
  ExpectTranscript(Xkrf({"data", "*.*", "-ext"}, dir.path()), 0,
                   Summary("ext, ", "data.krf", "*.*") + Contains(2) +
                       "skipping 'data.krf': it is the archive itself !\n" + Extracting("b.bin") +
                       Finish(1));
  EXPECT_EQ(e2e::ReadFile(dir / "data.krf"), archive);
}

TEST(XkrfExtract, NameWithoutTerminatingZeroIsSkipped) {
  ScratchDir dir;
  e2e::WriteFile(dir / "data.krf",
                 BuildArchive({{"a.bin", kLive | kNone, Bytes(3, 'a')},
                               {std::string(64, 'x'), kLive | kNone, Bytes(3, 'x')},
                               {"b.bin", kLive | kNone, Bytes(3, 'b')}}));
  const std::vector<std::string> before = Tree(dir.path());
  ExpectTranscript(Xkrf({"data", "*.*", "-ext"}, dir.path()), 2,
                   Summary("ext, ", "data.krf", "*.*") + Contains(3) + Extracting("a.bin") +
                       "skipping entry 1: name without terminating zero !\n" + Extracting("b.bin") +
                       Finish(2));
  std::vector<std::string> expected = before;
  expected.push_back("a.bin");
  expected.push_back("b.bin");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Tree(dir.path()), expected);
}

#ifndef _WIN32
// A run with its own deadline (SIGALRM ends it), so that a run that hangs
// fails its test at once instead of stalling the suite.
struct BoundedRun {
  e2e::RunResult result;
  bool timed_out = false;
};

BoundedRun XkrfWithin(const std::vector<std::string>& args, const std::string& cwd,
                      unsigned seconds) {
  BoundedRun run;
  run.result = e2e::Run(XKRF_BIN, args, cwd, [seconds] { alarm(seconds); });
  run.timed_out = run.result.exit_code == 128 + SIGALRM;
  return run;
}
#endif

// A FIFO where a file is to be written used to block the run forever (the
// open waited for a reader). Whatever stands there and is not a regular file
// or a folder is replaced like a link, never opened; a regular file is
// emptied and written in place, as before (a hard link to it sees the new
// content).
#ifndef _WIN32
TEST(XkrfExtract, SpecialFilesInTheWayAreReplacedWithoutBlocking) {
  const struct {
    std::string what;
    std::function<bool(const std::string&)> make;  // false: cannot be made here
    bool in_place;
  } cases[] = {
      {"FIFO", [](const std::string& p) { return mkfifo(p.c_str(), 0666) == 0; }, false},
      {"socket",
       [](const std::string& p) {
         sockaddr_un addr{};
         addr.sun_family = AF_UNIX;
         if (p.size() >= sizeof addr.sun_path) return false;
         std::memcpy(addr.sun_path, p.c_str(), p.size() + 1);
         const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
         const bool ok = fd >= 0 &&
                         bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                         listen(fd, 1) == 0;
         if (fd >= 0) close(fd);
         return ok;
       },
       false},
      {"device node (the null device)",
       [](const std::string& p) { return mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; },
       false},
      {"regular file",
       [](const std::string& p) {
         e2e::WriteFile(p, std::string(100, 'o'));
         return link(p.c_str(), (p + ".twin").c_str()) == 0;
       },
       true},
  };
  const Bytes x = e2e::RandomBytes(40, 7);
  const Bytes y(90, 'y');
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    e2e::MakeDirs(dir / "Sub");
    if (!c.make(dir / "x.bin") || !c.make(dir / "Sub/Y.BIN")) {
      std::printf("skipping the %s case: cannot make one here\n", c.what.c_str());
      continue;
    }
    e2e::WriteFile(dir / "data.krf",
                   BuildArchive({{"x.bin", kLive | kNone, x}, RleEntry("sub\\y.bin", y)}));
    const BoundedRun run = XkrfWithin({"data", "*.*", "-subs", "-ext"}, dir.path(), 30);
    if (run.timed_out) {
      ADD_FAILURE() << "the run blocked";
      continue;
    }
    ExpectTranscript(run.result, 0,
                     Summary("subs, ext, ", "data.krf", "*.*") + Contains(2) + Extracting("x.bin") +
                         Extracting("sub\\y.bin") + Finish(2));
    struct stat st {};
    ASSERT_EQ(lstat((dir / "x.bin").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    ASSERT_EQ(lstat((dir / "Sub/Y.BIN").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(e2e::ReadFile(dir / "x.bin"), x);
    EXPECT_EQ(e2e::ReadFile(dir / "Sub/Y.BIN"), y);
    EXPECT_FALSE(e2e::Exists(dir / "Sub/y.bin"));
    if (c.in_place) {
      EXPECT_EQ(e2e::ReadFile(dir / "x.bin.twin"), x);
      EXPECT_EQ(e2e::ReadFile(dir / "Sub/Y.BIN.twin"), y);
    }
  }
}
#else
TEST(XkrfExtract, SpecialFilesInTheWayAreReplacedWithoutBlocking) {
  E2E_WINDOWS_LACKS("FIFOs, sockets and device files");
}
#endif

// Whether strace runs and traces here (it needs ptrace, which some
// containers forbid).
bool StraceWorks() {
  return e2e::Run("/usr/bin/env", {"strace", "-qq", "-o", "/dev/null", "true"}, "/").exit_code == 0;
}

// The directory-reading system calls (getdents64) of an xkrf run, counted
// by strace into a file beside `cwd`.
int DirectoryReads(const std::vector<std::string>& args, const std::string& cwd,
                   e2e::RunResult* run) {
  const std::string trace = cwd + "/../strace.out";
  // LeakSanitizer cannot run under ptrace: a sanitized xkrf would end with
  // its fatal error instead of its own status.
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string asan_options =
      "ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":detect_leaks=0";
  std::vector<std::string> traced = {asan_options, "strace",           "-f", "-qq", "--seccomp-bpf",
                                     "-e",         "trace=getdents64", "-o", trace, XKRF_BIN};
  traced.insert(traced.end(), args.begin(), args.end());
  *run = e2e::Run("/usr/bin/env", traced, cwd);
  const Bytes text = e2e::ReadFile(trace);
  const std::string call = "getdents64(";
  int calls = 0;
  for (auto at = std::search(text.begin(), text.end(), call.begin(), call.end()); at != text.end();
       at = std::search(at + 1, text.end(), call.begin(), call.end())) {
    ++calls;
  }
  return calls;
}

// Entries that alternate between two folders used to cost a scan of the
// folder per entry, quadratic in the folder's size. Now each folder is read
// once whatever the order: a few directory reads for the two folders
// (strace counts them), where a scan per entry or per switch of folder
// would cost hundreds.
TEST(XkrfExtract, EntriesAlternatingBetweenFoldersReadEachFolderOnce) {
  if (e2e::kWindows) E2E_WINDOWS_LACKS("strace");
  constexpr int kPerFolder = 200;
  std::vector<Crafted> grouped, alternating;
  for (const char* folder : {"a", "b"}) {
    for (int i = 0; i < kPerFolder; ++i) {
      grouped.push_back({std::string(folder) + "\\f" + std::to_string(i), kLive | kNone,
                         Bytes(1, static_cast<uint8_t>('0' + i % 10))});
    }
  }
  for (int i = 0; i < kPerFolder; ++i) {
    alternating.push_back(grouped[static_cast<size_t>(i)]);
    alternating.push_back(grouped[static_cast<size_t>(kPerFolder + i)]);
  }
  if (!StraceWorks()) {
    if (std::getenv("CI")) FAIL() << "strace is missing or cannot trace (CI installs it)";
    GTEST_SKIP() << "strace cannot trace here: the directory reads were not counted";
  }
  constexpr int kFewReads = 10;
  for (int order = 0; order < 2; ++order) {
    SCOPED_TRACE(order == 0 ? "grouped" : "alternating");
    ScratchDir dir;
    e2e::WriteFile(dir / "w/data.krf", BuildArchive(order == 0 ? grouped : alternating));
    for (const char* folder : {"a", "b"}) {  // names to read: the folders exist
      for (int i = 0; i < 50; ++i) {
        e2e::WriteFile(dir / ("w/" + std::string(folder) + "/old" + std::to_string(i)), "o");
      }
    }
    e2e::RunResult run;
    const int reads = DirectoryReads({"data", "*.*", "-subs", "-ext"}, dir / "w", &run);
    ASSERT_EQ(run.exit_code, 0) << run.out.substr(0, 2000);
    EXPECT_EQ(run.out.substr(run.out.size() - std::string(Finish(2 * kPerFolder)).size()),
              Finish(2 * kPerFolder));
    EXPECT_EQ(e2e::ReadFile(dir / "w/a/f123"), Bytes(1, '3'));
    EXPECT_EQ(e2e::ReadFile(dir / "w/b/f199"), Bytes(1, '9'));
    EXPECT_EQ(DirNames(dir / "w/b").size(), static_cast<size_t>(kPerFolder + 50));
    EXPECT_GT(reads, 0);  // the existing names were read
    EXPECT_LE(reads, kFewReads);
  }
}

// Headers that cannot describe an archive: every action stops with the I/O
// error, leaves the file alone, and allocates nothing absurd on the way.
TEST(XkrfExtract, DamagedHeadersEndEveryActionOrderly) {
  const struct {
    std::string what;
    size_t offset;
    int32_t value;
  } cases[] = {
      {"negative entry count", 12, -1},       {"huge entry count", 12, 0x7fffffff},
      {"directory beyond the end", 12, 1000}, {"directory offset inside the header", 16, 10},
      {"negative directory offset", 16, -24}, {"directory offset beyond the end", 16, 100000},
  };
  const std::vector<std::vector<std::string>> actions = {
      {"data", "-list"}, {"data", "*.bin"}, {"data", "*.bin", "-ext"}, {"data", "*.bin", "-del"}};
  for (const auto& c : cases) {
    for (const auto& args : actions) {
      SCOPED_TRACE(c.what + " " + args.back());
      ScratchDir dir;
      Bytes archive = BuildArchive({{"a.bin", kLive | kNone, Bytes(6, 'a')}});
      PutLe32(&archive, c.offset, c.value);
      e2e::WriteFile(dir / "data.krf", archive);
      e2e::WriteFile(dir / "n.bin", Bytes(6, 'n'));
      const e2e::RunResult r = Xkrf(args, dir.path());
      EXPECT_EQ(r.exit_code, 1);
      const std::string tail = std::string(kFatal) + kClosing;
      EXPECT_TRUE(r.out.size() > tail.size() &&
                  r.out.compare(r.out.size() - tail.size(), tail.size(), tail) == 0)
          << r.out;
      EXPECT_EQ(r.out.find("finished..."), std::string::npos);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(e2e::ReadFile(dir / "data.krf"), archive);
      EXPECT_FALSE(e2e::Exists(dir / "a.bin"));
    }
  }
}

}  // namespace
}  // namespace xkrf_test
