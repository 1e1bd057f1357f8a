// Adding files: stored form, block layout, replacement of entries, the files
// a run skips, and the rollback when adding stops half-way.
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "xkrf_archive.h"
#include "xkrf_run.h"

namespace xkrf_test {
namespace {

using e2e::ScratchDir;

Bytes Alternating(size_t n, uint8_t a, uint8_t b) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = (i % 2 == 0) ? a : b;
  return out;
}

// `runny` equal bytes, then random ones.
Bytes RunThenNoise(size_t runny, size_t noise, uint32_t seed) {
  Bytes out = e2e::RandomBytes(runny + noise, seed);
  std::fill(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(runny), 'x');
  return out;
}

struct StoredCase {
  std::string file;
  Bytes content;
  int32_t type;
  int32_t size;
};

// Files named so that the directory search reports them in table order.
std::vector<StoredCase> StoredCases() {
  return {
      {"a1.bin", Bytes{'A'}, kLive | kNone, 1},
      {"a2.bin", Bytes{'A', 'A'}, kLive | kNone, 2},
      {"a3.bin", Bytes{'A', 'A', 'A', 'A'}, kLive | kRle, 2},
      {"a4.bin", Bytes{0x10, 0x20, 0x30}, kLive | kNone, 3},
      {"a5.bin", Bytes(64, 0), kLive | kRle, 3},
      {"a6.bin", Bytes(200, 0xC7), kLive | kRle, 8},
      {"a7.bin", Alternating(64, 0xC5, 0xE0), kLive | kNone, 64},
      {"a8.bin", e2e::RandomBytes(300, 8), kLive | kNone, 300},
      {"a9.bin", RunThenNoise(1000, 100, 9), kLive | kRle, -1},
  };
}

TEST(XkrfAdd, StoresRleOnlyWhenShorterAndLaysBlocksBackToBack) {
  ScratchDir dir;
  std::vector<StoredCase> cases = StoredCases();
  std::string adding;
  for (const StoredCase& c : cases) {
    e2e::WriteFile(dir / c.file, c.content);
    adding += Adding(c.file);
  }
  ExpectTranscript(Xkrf({"data", "*.bin"}, dir.path()), 0,
                   Summary("", "data.krf", "*.bin") + Creating("data.krf") + adding +
                       Finish(static_cast<int>(cases.size())));
  ASSERT_TRUE(IsFinishedArchive(dir / "data.krf"));
  const Archive archive = LoadArchive(dir / "data.krf");
  ASSERT_EQ(archive.entries.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const Entry& e = archive.entries[i];
    SCOPED_TRACE(cases[i].file);
    EXPECT_EQ(e.name, cases[i].file);
    EXPECT_EQ(e.type, cases[i].type);
    if (cases[i].size >= 0) {
      EXPECT_EQ(e.size, cases[i].size);
    }
    EXPECT_EQ(e.raw_len, static_cast<int32_t>(cases[i].content.size()));
    EXPECT_EQ(archive.Content(e), cases[i].content);
  }

  // New names only: the new block goes where the old directory was, nothing
  // before it moves, and there is no rewrite.
  const Bytes before = e2e::ReadFile(dir / "data.krf");
  const int32_t old_dir_ofs = GetLe32(before, 16);
  e2e::WriteFile(dir / "b.dat", Bytes(90, 'z'));
  ExpectTranscript(Xkrf({"data", "b.*"}, dir.path()), 0,
                   Summary("", "data.krf", "b.*") + Contains(9) + Adding("b.dat") + Finish(1));
  ASSERT_TRUE(IsFinishedArchive(dir / "data.krf"));
  const Archive grown = LoadArchive(dir / "data.krf");
  ASSERT_EQ(grown.entries.size(), 10u);
  EXPECT_EQ(grown.entries[9].ofs, old_dir_ofs);
  // Only DirEntries and DirOfs change in the header.
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + 12, grown.file.begin()));
  EXPECT_TRUE(
      std::equal(before.begin() + 20, before.begin() + old_dir_ofs, grown.file.begin() + 20));
}

TEST(XkrfAdd, NoneStoresFilesUnchangedWithoutEncodingText) {
  ScratchDir dir;
  const Bytes runny(500, 'r');
  e2e::WriteFile(dir / "R.TXT", runny);
  ExpectTranscript(Xkrf({"data", "*.txt", "-none"}, dir.path()), 0,
                   Summary("none, ", "data.krf", "*.txt") + Creating("data.krf") +
                       Adding("r.txt", false) + Finish(1));
  ASSERT_TRUE(IsFinishedArchive(dir / "data.krf"));
  const Archive archive = LoadArchive(dir / "data.krf");
  ASSERT_EQ(archive.entries.size(), 1u);
  EXPECT_EQ(archive.entries[0].type, kLive | kNone);
  EXPECT_EQ(archive.Stored(archive.entries[0]), runny);
}

TEST(XkrfAdd, ReplacementKeepsTheSlotUnlessTheOldBlockIsLarger) {
  const Bytes runny(1000, 'x');  // stored in 32 bytes
  const struct {
    std::string what;
    Bytes old_content;
    Bytes new_content;
    bool first_none;  // the first run uses -none
    bool none;        // the replacing run uses -none
    std::vector<std::string> order;
    int32_t type;
  } cases[] = {
      {"larger",
       e2e::RandomBytes(100, 1),
       e2e::RandomBytes(200, 2),
       false,
       false,
       {"a.bin", "b.bin"},
       kLive | kNone},
      {"same length",
       e2e::RandomBytes(100, 1),
       e2e::RandomBytes(100, 3),
       false,
       false,
       {"a.bin", "b.bin"},
       kLive | kNone},
      {"smaller",
       e2e::RandomBytes(100, 1),
       e2e::RandomBytes(60, 4),
       false,
       false,
       {"b.bin", "a.bin"},
       kLive | kNone},
      // The old block is compared, not the old file length.
      {"old rle block small",
       runny,
       e2e::RandomBytes(100, 5),
       false,
       false,
       {"a.bin", "b.bin"},
       kLive | kNone},
      // The new file length is compared, not the new block.
      {"new rle block small",
       e2e::RandomBytes(100, 6),
       runny,
       false,
       false,
       {"a.bin", "b.bin"},
       kLive | kRle},
      {"rle replaced with none", runny, runny, false, true, {"a.bin", "b.bin"}, kLive | kNone},
      {"none replaced with rle that pays",
       Bytes(40, 'y'),
       Bytes(40, 'y'),
       true,
       false,
       {"a.bin", "b.bin"},
       kLive | kRle},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    e2e::WriteFile(dir / "a.bin", c.old_content);
    e2e::WriteFile(dir / "b.bin", e2e::RandomBytes(50, 7));
    std::vector<std::string> args = {"data", "*.bin"};
    if (c.first_none) args.push_back("-none");
    ASSERT_EQ(Xkrf(args, dir.path()).exit_code, 0);

    e2e::WriteFile(dir / "a.bin", c.new_content);
    args = {"data", "a.bin"};
    if (c.none) args.push_back("-none");
    ExpectTranscript(Xkrf(args, dir.path()), 0,
                     Summary(c.none ? "none, " : "", "data.krf", "a.bin") + Contains(2) +
                         Adding("a.bin", !c.none) + kUpdating + Finish(1));
    ASSERT_TRUE(IsFinishedArchive(dir / "data.krf"));
    const Archive archive = LoadArchive(dir / "data.krf");
    EXPECT_EQ(archive.Names(), c.order);
    const Entry* a = archive.Find("a.bin");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->type, c.type);
    EXPECT_EQ(archive.Content(*a), c.new_content);
    EXPECT_EQ(archive.Content(*archive.Find("b.bin")), e2e::RandomBytes(50, 7));
    EXPECT_FALSE(e2e::Exists(dir / kTempName));
  }
}

TEST(XkrfAdd, AddingTheSameFilesAgainRewritesToTheSameBytes) {
  ScratchDir dir;
  for (const StoredCase& c : StoredCases()) e2e::WriteFile(dir / c.file, c.content);
  ASSERT_EQ(Xkrf({"data", "*.bin"}, dir.path()).exit_code, 0);
  const Bytes first = e2e::ReadFile(dir / "data.krf");
  std::string adding;
  for (const StoredCase& c : StoredCases()) adding += Adding(c.file);
  ExpectTranscript(Xkrf({"data", "*.bin"}, dir.path()), 0,
                   Summary("", "data.krf", "*.bin") + Contains(9) + adding + kUpdating + Finish(9));
  EXPECT_EQ(e2e::ReadFile(dir / "data.krf"), first);
}

TEST(XkrfAdd, ReplacementLooksUpStoredNamesExactly) {
  ScratchDir dir;
  // An entry spelled in capitals (from elsewhere) is another name than the
  // lower-cased name a file is stored under. The header's Version and
  // FileLen pass through untouched.
  e2e::WriteFile(dir / "data.krf", BuildArchive({{"A.BIN", kLive | kNone, Bytes(5, 'o')}}, 7, 99));
  e2e::WriteFile(dir / "A.BIN", Bytes(7, 'n'));
  ExpectTranscript(
      Xkrf({"data", "a.bin", "-none"}, dir.path()), 0,
      Summary("none, ", "data.krf", "a.bin") + Contains(1) + Adding("a.bin", false) + Finish(1));
  ASSERT_TRUE(IsFinishedArchive(dir / "data.krf"));
  const Archive archive = LoadArchive(dir / "data.krf");
  EXPECT_EQ(archive.Names(), (std::vector<std::string>{"A.BIN", "a.bin"}));
  EXPECT_EQ(archive.version, 7);
  EXPECT_EQ(archive.file_len, 99);
}

// What cannot be stored is skipped with a message that says why, and the
// run ends with status 2: a name too long, an empty file, a second file of
// a stored name already taken (by case, or by a '\\' in a file's name). The
// archive itself and a stopped compaction's leftover are not asked for.
TEST(XkrfAdd, SkipsWhatItCannotStoreAndSaysWhy) {
  if (e2e::kWindows) E2E_WINDOWS_LACKS("file names that differ by case alone or hold a '\\'");
  ScratchDir dir;
  const std::string name63 = std::string(59, 'n') + ".bin";
  const std::string name64 = std::string(60, 'n') + ".bin";
  e2e::WriteFile(dir / "A.BIN", Bytes(10, 'A'));
  e2e::WriteFile(dir / "a.bin", Bytes(10, 'a'));
  e2e::WriteFile(dir / "empty.bin", Bytes());
  e2e::WriteFile(dir / name63, Bytes(10, 'b'));
  e2e::WriteFile(dir / name64, Bytes(10, 'c'));
  e2e::WriteFile(dir / "sub/s.txt", Bytes(10, 's'));
  e2e::WriteFile(dir / "sub\\s.txt", Bytes(10, 'o'));
  e2e::WriteFile(dir / kTempName, Bytes(30, 't'));
  ExpectTranscript(
      Xkrf({"data", "*.*", "-subs"}, dir.path()), 2,
      Summary("subs, ", "data.krf", "*.*") + Creating("data.krf") + Adding("a.bin") +
          "skipping 'a.bin': stored under the same name as 'A.BIN' !\n" +
          "skipping 'data.krf': it is the archive itself !\n" +
          "skipping 'empty.bin': empty file !\n" + Adding(name63) + "skipping '" + name64 +
          "': stored name longer than 63 characters !\n" + "Entering sub-directory 'sub'...\n" +
          Adding("s.txt") + "Leaving sub-directory 'sub'...\n" +
          "skipping 'sub\\s.txt': stored under the same name as 'sub/s.txt' !\n" + Finish(3));
  ASSERT_TRUE(IsFinishedArchive(dir / "data.krf"));
  const Archive archive = LoadArchive(dir / "data.krf");
  EXPECT_EQ(archive.Names(), (std::vector<std::string>{"a.bin", name63, "sub\\s.txt"}));
  EXPECT_EQ(archive.Content(archive.entries[0]), Bytes(10, 'A'));
  EXPECT_EQ(archive.Content(archive.entries[2]), Bytes(10, 's'));
}

// A mask that climbs out of the working folder or starts at the root reads
// its files there, but stores them under names that extract below the
// working folder, as archivers do, and says so once.
TEST(XkrfAdd, StoredNamesNeverClimbOut) {
  ScratchDir dir;
  e2e::WriteFile(dir / "up.txt", Bytes(10, 'u'));
  e2e::WriteFile(dir / "up2.txt", Bytes(10, 'v'));
  e2e::MakeDirs(dir / "w");
  ExpectTranscript(Xkrf({"pk", "../*.txt"}, dir / "w"), 0,
                   Summary("", "pk.krf", "..\\*.txt", "..\\") + Creating("pk.krf") +
                       "stripping leading '..\\' from stored names...\n" + Adding("up.txt") +
                       Adding("up2.txt") + Finish(2));
  EXPECT_EQ(LoadArchive(dir / "w/pk.krf").Names(), (std::vector<std::string>{"up.txt", "up2.txt"}));

  // From the root: the stored names are the path without its leading '\\'
  // (on Windows, without its drive and root, 'c:\\').
  const std::string mask = dir.path() + "/*.txt";
  const auto r = Xkrf({"pk2", mask}, dir / "w");
  EXPECT_EQ(r.exit_code, 0);
  const std::string shown = ShownMask(dir.path());
  const size_t root = e2e::kWindows ? 3 : 1;
  EXPECT_NE(r.out.find("stripping leading '" + shown.substr(0, root) + "' from stored names...\n"),
            std::string::npos)
      << r.out;
  std::string stored = shown.substr(root) + "\\up.txt";
  if (stored.size() <= 63) {
    EXPECT_EQ(LoadArchive(dir / "w/pk2.krf").Names().at(0), stored);
  }
}

// The 2 GiB limit of the archive's offsets applies to what is stored: a file
// that encodes small is added to an archive it would take past the limit
// if stored as is. Archive and file are sparse, so the test writes little.
TEST(XkrfAdd, LimitAppliesToTheStoredSize) {
  // The stored entry already there leaves 48 MiB below the limit.
  constexpr int64_t kBig = int64_t{2000} << 20;
  constexpr int64_t kZeros = int64_t{64} << 20;  // the file to add
  const struct {
    std::string method;
    std::string text;
    int exit_code;
  } cases[] = {
      {"-rle", Adding("zeros.bin"), 0},
      {"-none", "skipping 'zeros.bin': the archive would grow beyond 2 GiB !\n", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.method);
    ScratchDir dir;
    Bytes head = {'K', 'e', 'l', 'R', 'F'}, entry(kEntrySize);
    head.resize(kHeaderSize);
    PutLe32(&head, 12, 1);
    PutLe32(&head, 16, static_cast<int32_t>(kHeaderSize + kBig));
    std::copy_n("big.bin", 7, entry.begin());
    PutLe32(&entry, kTypeField, kLive | kNone);
    PutLe32(&entry, kOfsField, static_cast<int32_t>(kHeaderSize));
    PutLe32(&entry, kRawLenField, kBig);
    PutLe32(&entry, kSizeField, kBig);
    {
      std::ofstream f(dir / "data.krf", std::ios::binary);
      f.write(reinterpret_cast<const char*>(head.data()),
              static_cast<std::streamsize>(head.size()));
      f.seekp(kHeaderSize + kBig);
      f.write(reinterpret_cast<const char*>(entry.data()),
              static_cast<std::streamsize>(entry.size()));
      ASSERT_TRUE(f.good());
    }
    e2e::WriteFile(dir / "zeros.bin", Bytes());
    std::filesystem::resize_file(dir / "zeros.bin", kZeros);

    ExpectTranscript(Xkrf({"data", "zeros.bin", c.method}, dir.path()), c.exit_code,
                     Summary(c.method.substr(1) + ", ", "data.krf", "zeros.bin") + Contains(1) +
                         c.text + Finish(c.exit_code == 0 ? 1 : 0));
    // Runs of 63 zeros, two bytes each, and the rest.
    const int64_t encoded = kZeros / 63 * 2 + (kZeros % 63 > 1 ? 2 : kZeros % 63);
    const int64_t entries = c.exit_code == 0 ? 2 : 1;
    const int64_t dir_ofs = kHeaderSize + kBig + (c.exit_code == 0 ? encoded : 0);
    EXPECT_EQ(std::filesystem::file_size(dir / "data.krf"),
              static_cast<uintmax_t>(dir_ofs + entries * kEntrySize));
    const auto t = Xkrf({"data", "-test", "zeros.bin"}, dir.path());
    EXPECT_EQ(t.exit_code, 0) << t.out;
  }
}

#ifndef _WIN32
// Opens the FIFO for writing when a run is still blocked on it after a while,
// so a tool that reads FIFOs fails this test instead of hanging the suite.
class FifoUnblocker {
 public:
  explicit FifoUnblocker(std::string path) : path_(std::move(path)), thread_([this] { Watch(); }) {}
  ~FifoUnblocker() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  void Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!cv_.wait_for(lock, std::chrono::seconds(5), [this] { return done_; })) {
      const int fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) close(fd);
    }
  }
  std::string path_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

TEST(XkrfAdd, TakesLinksToFilesButNeverFifos) {
  ScratchDir dir;
  e2e::MakeDirs(dir / "w");
  const Bytes real = e2e::RandomBytes(70, 3);
  e2e::WriteFile(dir / "real.dat", real);
  ASSERT_EQ(symlink("../real.dat", (dir / "w/l.bin").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "w/p.bin").c_str(), 0644), 0);
  e2e::RunResult r;
  {
    FifoUnblocker unblocker(dir / "w/p.bin");
    r = Xkrf({"data", "*.bin"}, dir / "w");
  }
  ExpectTranscript(
      r, 0, Summary("", "data.krf", "*.bin") + Creating("data.krf") + Adding("l.bin") + Finish(1));
  ASSERT_TRUE(IsFinishedArchive(dir / "w/data.krf"));
  const Archive archive = LoadArchive(dir / "w/data.krf");
  ASSERT_EQ(archive.Names(), std::vector<std::string>{"l.bin"});
  EXPECT_EQ(archive.Content(archive.entries[0]), real);
}

// A stop in the middle of an add, after earlier files of the run have been
// written over the old directory, must leave the archive as it was.
TEST(XkrfAdd, UnopenableFileStopsTheRunAndRestoresTheArchive) {
  // A file that even the superuser cannot open for reading: a write-only
  // kernel attribute reached through a link.
  const std::string target = "/sys/bus/pci/rescan";
  const int probe = open(target.c_str(), O_RDONLY);
  if (probe >= 0) close(probe);
  if (probe >= 0 || errno != EACCES) GTEST_SKIP() << "no unreadable regular file here";
  ScratchDir dir;
  const Bytes archive = BuildArchive({{"old.bin", kLive | kNone, e2e::RandomBytes(40, 1)}});
  e2e::WriteFile(dir / "data.krf", archive);
  e2e::WriteFile(dir / "a.bin", Bytes(3000, 'a'));
  ASSERT_EQ(symlink(target.c_str(), (dir / "w.bin").c_str()), 0);
  ExpectTranscript(Xkrf({"data", "*.bin"}, dir.path()), 1,
                   Summary("", "data.krf", "*.bin") + Contains(1) + Adding("a.bin") +
                       "adding 'w.bin'\nCould not open input file...!\n" + kClosing);
  EXPECT_EQ(e2e::ReadFile(dir / "data.krf"), archive);
}

#else
TEST(XkrfAdd, TakesLinksToFilesButNeverFifos) { E2E_WINDOWS_LACKS("FIFOs"); }
TEST(XkrfAdd, UnopenableFileStopsTheRunAndRestoresTheArchive) {
  E2E_WINDOWS_LACKS("a regular file that no one may read");
}
#endif

}  // namespace
}  // namespace xkrf_test
