// Whole cycles on generated trees: add, list, extract into a new folder,
// delete, add again; large entry counts; two runs on one archive at once.
#include <filesystem>
#include <set>
#include <thread>

#include "xkrf_archive.h"
#include "xkrf_run.h"

namespace xkrf_test {
namespace {

using e2e::ScratchDir;

// Runs of random length and value, bytes from 0xC0 up included.
Bytes Runs(size_t n, uint32_t seed) {
  const Bytes r = e2e::RandomBytes(n, seed);
  Bytes out;
  for (size_t i = 0; out.size() < n; ++i) {
    const size_t len = 1 + r[i % n] % 150;
    out.insert(out.end(), std::min(len, n - out.size()), r[(i * 7 + 3) % n]);
  }
  return out;
}

// Bytes from 0xC0 up with no two neighbours equal: RLE would double them.
Bytes High(size_t n) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(0xC0 + (i * 5) % 64);
  return out;
}

struct Source {
  std::string path;  // relative, with '/'
  Bytes content;
};

std::vector<Source> GeneratedTree() {
  return {{"readme", e2e::RandomBytes(500, 1)},
          {"Big.DAT", Runs(20000, 2)},
          {"high.bin", High(300)},
          {"Maps/e1m1.map", e2e::RandomBytes(3000, 3)},
          {"Maps/Textures/Wall.PCX", Runs(4000, 4)},
          {"Maps/Textures/floor.pcx", Bytes(999, 0xC1)},
          {"Sounds/a.wav", Bytes{0xC0}},
          {"Sounds/Deep/x.y.z", Bytes{0xFF, 0xFF}}};
}

// The stored name of a source file: directories as spelled, the file name
// lower-cased, '\' between.
std::string StoredName(const std::string& path) {
  std::string out = path;
  const size_t slash = out.rfind('/');
  const size_t file = slash == std::string::npos ? 0 : slash + 1;
  for (size_t i = file; i < out.size(); ++i) {
    if (out[i] >= 'A' && out[i] <= 'Z') out[i] = static_cast<char>(out[i] - 'A' + 'a');
  }
  std::replace(out.begin(), out.end(), '/', '\\');
  return out;
}

std::string HostName(const std::string& stored) {
  std::string out = stored;
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

void ExpectHolds(const Archive& archive, const std::vector<Source>& sources) {
  std::set<std::string> expected;
  for (const Source& s : sources) {
    expected.insert(StoredName(s.path));
    const Entry* e = archive.Find(StoredName(s.path));
    ASSERT_NE(e, nullptr) << s.path;
    EXPECT_EQ(archive.Content(*e), s.content) << s.path;
  }
  const std::vector<std::string> names = archive.Names();
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);
}

TEST(XkrfRoundTrip, AddListExtractDeleteAddAgain) {
  for (const std::string method : {"-rle", "-none"}) {
    SCOPED_TRACE(method);
    ScratchDir dir;
    const std::vector<Source> sources = GeneratedTree();
    for (const Source& s : sources) e2e::WriteFile(dir / ("src/" + s.path), s.content);

    ASSERT_EQ(Xkrf({"../data", "*.*", "-subs", method}, dir / "src").exit_code, 0);
    ASSERT_TRUE(IsFinishedArchive(dir / "data.krf"));
    Archive archive = LoadArchive(dir / "data.krf");
    ExpectHolds(archive, sources);
    for (const Entry& e : archive.entries) {
      if (method == "-none") {
        EXPECT_EQ(e.type, kLive | kNone) << e.name;
      }
    }

    const std::string listing =
        method == "-rle"
            ? "big.dat                               20000         RLE         948    95.26%\n"
              "high.bin                                300        none         300     0.00%\n"
              "Maps\\e1m1.map                          3000        none        3000     0.00%\n"
              "Maps\\Textures\\floor.pcx                 999         RLE          32    96.80%\n"
              "Maps\\Textures\\wall.pcx                 4000         RLE         197    95.08%\n"
              "readme                                  500        none         500     0.00%\n"
              "Sounds\\a.wav                              1        none           1     0.00%\n"
              "Sounds\\Deep\\x.y.z                         2        none           2     0.00%\n"
            : "big.dat                               20000        none       20000     0.00%\n"
              "high.bin                                300        none         300     0.00%\n"
              "Maps\\e1m1.map                          3000        none        3000     0.00%\n"
              "Maps\\Textures\\floor.pcx                 999        none         999     0.00%\n"
              "Maps\\Textures\\wall.pcx                 4000        none        4000     0.00%\n"
              "readme                                  500        none         500     0.00%\n"
              "Sounds\\a.wav                              1        none           1     0.00%\n"
              "Sounds\\Deep\\x.y.z                         2        none           2     0.00%\n";
    ExpectTranscript(Xkrf({"../data", "-list"}, dir / "src"), 0,
                     Summary("list, ", "../data.krf", "") + Contains(8) + kListHead + listing +
                         std::string(22 - 8, '\n') + Finish(0));

    // An archive made with -subs extracts into an empty folder in one run.
    e2e::MakeDirs(dir / "out");
    const e2e::RunResult ext = Xkrf({"../data", "*.*", "-subs", "-ext"}, dir / "out");
    EXPECT_EQ(ext.exit_code, 0) << ext.out;
    EXPECT_NE(ext.out.find(Finish(8)), std::string::npos) << ext.out;
    for (const Source& s : sources) {
      EXPECT_EQ(e2e::ReadFile(dir / ("out/" + HostName(StoredName(s.path)))), s.content) << s.path;
    }
    EXPECT_EQ(e2e::ReadFile(dir / "data.krf"), archive.file);

    const std::string del_out =
        Summary("del, subs, ", "../data.krf", "maps\\*.*", "maps\\") + Contains(8) +
        Deleting({"Maps\\e1m1.map", "Maps\\Textures\\floor.pcx", "Maps\\Textures\\wall.pcx"}) +
        kUpdating + Finish(3);
    ExpectTranscript(Xkrf({"../data", "maps/*.*", "-del", "-subs"}, dir / "src"), 0, del_out);
    ASSERT_TRUE(IsFinishedArchive(dir / "data.krf"));
    std::vector<Source> rest;
    for (const Source& s : sources) {
      if (s.path.rfind("Maps/", 0) != 0) rest.push_back(s);
    }
    ExpectHolds(LoadArchive(dir / "data.krf"), rest);

    ASSERT_EQ(Xkrf({"../data", "*.*", "-subs", method}, dir / "src").exit_code, 0);
    ASSERT_TRUE(IsFinishedArchive(dir / "data.krf"));
    ExpectHolds(LoadArchive(dir / "data.krf"), sources);
  }
}

TEST(XkrfRoundTrip, OneRunAddsMoreThan5000Files) {
  ScratchDir dir;
  constexpr int kFiles = 5003;
  for (int i = 0; i < kFiles; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "w/f%04d", i);
    e2e::WriteFile(dir / name, Bytes{static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)});
  }
  const e2e::RunResult r = Xkrf({"../data", "*.*", "-none"}, dir / "w");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find(Finish(kFiles)), std::string::npos);
  ASSERT_TRUE(IsFinishedArchive(dir / "data.krf"));
  const Archive archive = LoadArchive(dir / "data.krf");
  ASSERT_EQ(archive.entries.size(), static_cast<size_t>(kFiles));
  EXPECT_EQ(archive.entries[kFiles - 1].name, "f5002");
  EXPECT_EQ(archive.Content(archive.entries[kFiles - 1]), (Bytes{5002 & 0xFF, 5002 >> 8}));
}

// Two runs adding different files to one archive at the same time must not
// interleave: both finish and the archive ends with every file.
TEST(XkrfRoundTrip, ConcurrentAddsToOneArchiveKeepEveryFile) {
  ScratchDir dir;
  std::vector<Source> sources;
  for (int i = 0; i < 4; ++i) {
    sources.push_back({"one/a" + std::to_string(i) + ".bin", Runs(1000000, 10 + i)});
    sources.push_back({"two/b" + std::to_string(i) + ".bin", Runs(1000000, 20 + i)});
  }
  for (const Source& s : sources) e2e::WriteFile(dir / s.path, s.content);
  ASSERT_EQ(Xkrf({"data", "none"}, dir.path()).exit_code, 0);

  e2e::RunResult one, two;
  std::thread first([&] { one = Xkrf({"../data", "*.bin"}, dir / "one"); });
  std::thread second([&] { two = Xkrf({"../data", "*.bin"}, dir / "two"); });
  first.join();
  second.join();
  EXPECT_EQ(one.exit_code, 0) << one.out;
  EXPECT_EQ(two.exit_code, 0) << two.out;
  ASSERT_TRUE(IsFinishedArchive(dir / "data.krf"));
  const Archive archive = LoadArchive(dir / "data.krf");
  ASSERT_EQ(archive.entries.size(), sources.size());
  for (const Source& s : sources) {
    const Entry* e = archive.Find(s.path.substr(4));
    ASSERT_NE(e, nullptr) << s.path;
    EXPECT_EQ(archive.Content(*e), s.content);
  }
}

}  // namespace
}  // namespace xkrf_test
