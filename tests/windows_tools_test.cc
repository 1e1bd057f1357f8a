// What only Windows has: names its file system cannot hold, files other
// programs hold open, read-only files, and a listing into a pipe that must
// not wait for a key. The tools run as .exe files (under Wine in CI).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "converters_support.h"
#include "e2e_support.h"
#include "xkrf_archive.h"
#include "xkrf_run.h"

namespace {

namespace fs = std::filesystem;
using e2e::Bytes;
using xkrf_test::Crafted;

// Every file and folder below `dir`, as relative generic paths.
std::vector<std::string> Tree(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    out.push_back(e2e::Utf8Of(fs::relative(e.path(), dir)));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Holds a file open the way a program that shares nothing does.
class HeldOpen {
 public:
  explicit HeldOpen(const std::string& path)
      : h_(::CreateFileW(fs::path(path).wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {
    EXPECT_NE(h_, INVALID_HANDLE_VALUE) << path;
  }
  ~HeldOpen() { ::CloseHandle(h_); }

 private:
  HANDLE h_;
};

TEST(WindowsNames, ExtractionSkipsEveryNameWindowsCannotHold) {
  const std::vector<std::string> bad = {
      "con",       "CON.txt", "aux.pcx",  "nul",        "prn.dat",    "com1",
      "COM9.lmp",  "lpt1",    "lpt9.x.y", "gfx\\nul",   "con\\a.txt", "ads.txt:st",
      "q?.txt",    "s*.txt",  "p|.txt",   "l<.txt",     "g>.txt",     "d\".txt",
      "c\x01.txt", "dot.",    "space ",   "dir.\\x.txt"};
  std::vector<Crafted> entries;
  for (const std::string& name : bad)
    entries.push_back({name, xkrf_test::kLive | xkrf_test::kNone, Bytes{'x'}});
  entries.push_back({"good\\ok.txt", xkrf_test::kLive | xkrf_test::kNone, Bytes{'o', 'k'}});
  e2e::ScratchDir dir;
  e2e::WriteFile(dir / "w/data.krf", xkrf_test::BuildArchive(entries));
  const e2e::RunResult r = xkrf_test::Xkrf({"data", "*.*", "-subs", "-ext"}, dir / "w");
  EXPECT_EQ(r.exit_code, 2) << r.out;
  for (const std::string& name : bad) {
    EXPECT_NE(r.out.find("skipping '" + name + "': "), std::string::npos) << name << "\n" << r.out;
  }
  EXPECT_EQ(Tree(dir / "w"), (std::vector<std::string>{"data.krf", "good", "good/ok.txt"}));
  EXPECT_EQ(e2e::ReadFile(dir / "w/good/ok.txt"), (Bytes{'o', 'k'}));
  // Nothing reached the devices' or any other place beside the folder.
  EXPECT_EQ(Tree(dir.path()),
            (std::vector<std::string>{"w", "w/data.krf", "w/good", "w/good/ok.txt"}));
}

TEST(WindowsNames, MipsnapSkipsLumpsWindowsCannotName) {
  e2e::ScratchDir dir;
  e2e::WriteFile(dir / "palette.lmp", convtest::Palette());
  const convtest::Image image = convtest::TestImage(5, 3, 1);
  const Bytes pic = convtest::PicLump(5, 3, image.pixels);
  e2e::MakeDirs(dir / "textures");
  e2e::WriteFile(dir / "g.wad", convtest::Wad({{"con", pic}, {"a:b", pic}, {"fine", pic}}));
  const e2e::RunResult r = e2e::Run(MIPSNAP_BIN, {"g.wad"}, dir.path());
  EXPECT_EQ(r.exit_code, 2) << r.out;
  for (const char* name : {"con", "a:b"}) {
    EXPECT_NE(r.out.find(std::string("cannot write 'textures/") + name + ".pcx'"),
              std::string::npos)
        << name << "\n"
        << r.out;
  }
  EXPECT_EQ(Tree(dir / "textures"), (std::vector<std::string>{"fine.pcx"}));
}

// Names beyond ASCII, in arguments and in the archive, and an archive whose
// path is longer than the classic limit of 260 characters: added, compacted
// and extracted again. Standard output here is a pipe, which gets the names'
// UTF-8 bytes unchanged.
TEST(WindowsNames, NonAsciiNamesAndLongPathsRoundTrip) {
  e2e::ScratchDir dir;
  const std::string u_txt = "\xC3\xBC.txt";                // ü.txt
  const std::string folder = "\xE6\x97\xA5\xE6\x9C\xAC";   // 日本
  const std::string in_folder = folder + "/\xD0\xB6.bin";  // 日本/ж.bin
  std::string deep = "deep";
  while (fs::path(dir / deep).wstring().size() < 300) deep += "/" + std::string(40, 'd');
  const Bytes u = e2e::RandomBytes(100, 1), zh = Bytes(300, 'z'), drop = Bytes(7, 'x');
  e2e::WriteFile(dir / ("src/" + u_txt), u);
  e2e::WriteFile(dir / ("src/" + in_folder), zh);
  e2e::WriteFile(dir / "src/drop.bin", drop);
  e2e::MakeDirs(dir / deep);
  const std::string archive = "../" + deep + "/data";
  // A non-ASCII mask, then the whole tree.
  e2e::RunResult r = xkrf_test::Xkrf({archive, u_txt}, dir / "src");
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("adding '" + u_txt + "'"), std::string::npos) << r.out;
  r = xkrf_test::Xkrf({archive, "*.*", "-subs"}, dir / "src");
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("Entering sub-directory '" + folder + "'"), std::string::npos) << r.out;
  // Deleting compacts the archive through a temporary file in its folder.
  r = xkrf_test::Xkrf({archive, "drop.bin", "-del"}, dir / "src");
  EXPECT_EQ(r.exit_code, 0) << r.out;
  e2e::MakeDirs(dir / "out");
  r = xkrf_test::Xkrf({"../" + deep + "/data", "*.*", "-subs", "-ext"}, dir / "out");
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("extracting " + folder + "\\\xD0\xB6.bin..."), std::string::npos) << r.out;
  EXPECT_EQ(Tree(dir / "out"), (std::vector<std::string>{u_txt, folder, in_folder}));
  EXPECT_EQ(e2e::ReadFile(dir / ("out/" + u_txt)), u);
  EXPECT_EQ(e2e::ReadFile(dir / ("out/" + in_folder)), zh);
  EXPECT_EQ(xkrf_test::LoadArchive(dir / (deep + "/data.krf")).Names(),
            (std::vector<std::string>{u_txt, folder + "\\\xD0\xB6.bin"}));
}

// Makes `link` (a new folder) a junction to the folder `target`; false with
// the system's error when it cannot.
bool MakeJunction(const std::string& link, const std::string& target, DWORD* error) {
  *error = 0;
  const fs::path absolute = fs::absolute(e2e::PathOf(target));
  const std::wstring substitute = L"\\??\\" + absolute.wstring();
  const std::wstring print = absolute.wstring();
  // The mount point's reparse data: tag, length, reserved; the offsets and
  // lengths of both names in bytes; both names with their terminating zeros.
  const size_t names = (substitute.size() + 1 + print.size() + 1) * sizeof(wchar_t);
  std::vector<uint8_t> data(8 + 8 + names, 0);
  const auto put16 = [&data](size_t at, size_t v) {
    data[at] = static_cast<uint8_t>(v);
    data[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  const uint32_t tag = IO_REPARSE_TAG_MOUNT_POINT;
  for (int i = 0; i < 4; ++i) data[static_cast<size_t>(i)] = static_cast<uint8_t>(tag >> (8 * i));
  put16(4, 8 + names);
  put16(8, 0);
  put16(10, substitute.size() * sizeof(wchar_t));
  put16(12, (substitute.size() + 1) * sizeof(wchar_t));
  put16(14, print.size() * sizeof(wchar_t));
  std::memcpy(data.data() + 16, substitute.c_str(), (substitute.size() + 1) * sizeof(wchar_t));
  std::memcpy(data.data() + 16 + (substitute.size() + 1) * sizeof(wchar_t), print.c_str(),
              (print.size() + 1) * sizeof(wchar_t));
  const std::wstring wide = e2e::PathOf(link).wstring();
  if (!::CreateDirectoryW(wide.c_str(), nullptr)) {
    *error = ::GetLastError();
    return false;
  }
  HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  DWORD got = 0;
  const bool made = h != INVALID_HANDLE_VALUE &&
                    ::DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, data.data(),
                                      static_cast<DWORD>(data.size()), nullptr, 0, &got, nullptr);
  if (!made) *error = ::GetLastError();
  if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  if (!made) ::RemoveDirectoryW(wide.c_str());
  return made;
}

// Adding's walk never enters a junction to a folder (it would take the
// folder's files twice, or loop).
TEST(WindowsNames, JunctionsToFoldersAreNeverEntered) {
  e2e::ScratchDir dir;
  e2e::WriteFile(dir / "top/a.txt", std::string("a"));
  e2e::WriteFile(dir / "top/Stone/w.txt", std::string("w"));
  DWORD error = 0;
  if (!MakeJunction(dir / "top/linkdir", dir / "top/Stone", &error)) {
    GTEST_SKIP() << "no junction can be made here (Windows error " << error << ")";
  }
  ASSERT_TRUE(fs::is_directory(e2e::PathOf(dir / "top/linkdir")));
  const e2e::RunResult r = xkrf_test::Xkrf({"../data", "*.txt", "-subs"}, dir / "top");
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(r.out.find("linkdir"), std::string::npos) << r.out;
  EXPECT_EQ(xkrf_test::LoadArchive(dir / "data.krf").Names(),
            (std::vector<std::string>{"a.txt", "Stone\\w.txt"}));
}

TEST(WindowsSharing, FilesOtherProgramsHoldAreSkippedOrClearFailuresNeverHalfWritten) {
  e2e::ScratchDir dir;
  // a.txt goes through the writer thread, big.bin (over 1 MiB) is written
  // as it is read: both ways skip a held file.
  const Bytes big = e2e::RandomBytes((1 << 20) + 10, 4);
  e2e::WriteFile(dir / "a.txt", std::string("alpha"));
  e2e::WriteFile(dir / "b.txt", std::string("bravo"));
  e2e::WriteFile(dir / "big.bin", big);
  ASSERT_EQ(xkrf_test::Xkrf({"data", "*.*", "-none"}, dir.path()).exit_code, 0);
  e2e::MakeDirs(dir / "out");
  e2e::WriteFile(dir / "out/a.txt", std::string("held"));
  e2e::WriteFile(dir / "out/big.bin", std::string("held"));
  {
    // Extracting over held files: each is skipped and keeps its bytes, the
    // others are written, the run ends with status 2.
    HeldOpen held_a(dir / "out/a.txt");
    HeldOpen held_big(dir / "out/big.bin");
    const e2e::RunResult r = xkrf_test::Xkrf({"../data", "*.*", "-ext"}, dir / "out");
    EXPECT_EQ(r.exit_code, 2) << r.out;
    for (const char* name : {"a.txt", "big.bin"}) {
      EXPECT_NE(r.out.find("extracting " + std::string(name) +
                           "...in use by another program, skipping !\n"),
                std::string::npos)
          << name << "\n"
          << r.out;
    }
    EXPECT_NE(r.out.find(xkrf_test::Finish(1)), std::string::npos) << r.out;
  }
  EXPECT_EQ(e2e::ReadFile(dir / "out/a.txt"), (Bytes{'h', 'e', 'l', 'd'}));
  EXPECT_EQ(e2e::ReadFile(dir / "out/big.bin"), (Bytes{'h', 'e', 'l', 'd'}));
  EXPECT_EQ(e2e::ReadFile(dir / "out/b.txt"), (Bytes{'b', 'r', 'a', 'v', 'o'}));
  {
    // The archive itself held: a fatal end that names the reason, the
    // archive untouched.
    const Bytes before = e2e::ReadFile(dir / "data.krf");
    HeldOpen held(dir / "data.krf");
    const e2e::RunResult r = xkrf_test::Xkrf({"data", "*.txt", "-del"}, dir.path());
    EXPECT_NE(r.out.find("Couldn't open 'data.krf': in use by another program !"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.exit_code, 1);
    (void)before;
  }
  EXPECT_TRUE(xkrf_test::IsFinishedArchive(dir / "data.krf"));
}

// A converter's or snapback's output that another program holds open is a
// skip of that image (status 2), the held file keeps its bytes.
TEST(WindowsSharing, HeldConverterOutputsAreSkipped) {
  e2e::ScratchDir dir;
  e2e::WriteFile(dir / "palette.lmp", convtest::Palette());
  const convtest::Image image = convtest::TestImage(8, 8, 1);
  e2e::WriteFile(dir / "x.lmp", convtest::PicLump(8, 8, image.pixels));
  ASSERT_EQ(e2e::Run(PICSNAP_BIN, {"x"}, dir.path()).exit_code, 0);
  e2e::WriteFile(dir / "y.lmp", e2e::ReadFile(dir / "x.lmp"));
  const struct {
    std::string held;
    std::string binary;
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {"y.pcx", PICSNAP_BIN, {"y"}, "!! Could not create PCX file !"},
      {"x.wal", SNAPBACK_BIN, {"wal", "x.pcx"}, "x.wal: cannot create: in use by another program"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.held);
    e2e::WriteFile(dir / c.held, std::string("held"));
    {
      HeldOpen held(dir / c.held);
      const e2e::RunResult r = e2e::Run(c.binary, c.args, dir.path());
      EXPECT_EQ(r.exit_code, 2) << r.out << r.err;
      EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << r.out << r.err;
    }
    EXPECT_EQ(e2e::ReadFile(dir / c.held), (Bytes{'h', 'e', 'l', 'd'}));
  }
}

TEST(WindowsReadOnly, ReadOnlyArchiveIsListedButNeverChanged) {
  e2e::ScratchDir dir;
  e2e::WriteFile(dir / "a.txt", std::string("alpha"));
  xkrf_test::Xkrf({"data", "*.txt"}, dir.path());
  const Bytes before = e2e::ReadFile(dir / "data.krf");
  const std::wstring archive = fs::path(dir / "data.krf").wstring();
  ASSERT_TRUE(::SetFileAttributesW(archive.c_str(), FILE_ATTRIBUTE_READONLY));
  HANDLE probe = ::CreateFileW(archive.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    ::CloseHandle(probe);
    ::SetFileAttributesW(archive.c_str(), FILE_ATTRIBUTE_NORMAL);
    GTEST_SKIP() << "the read-only attribute is not enforced here (Wine run as root)";
  }
  const e2e::RunResult list = xkrf_test::Xkrf({"data", "-list"}, dir.path());
  EXPECT_NE(list.out.find("a.txt"), std::string::npos) << list.out;
  const e2e::RunResult del = xkrf_test::Xkrf({"data", "*.txt", "-del"}, dir.path());
  EXPECT_NE(del.out.find("Couldn't open 'data.krf': "), std::string::npos) << del.out;
  EXPECT_EQ(del.exit_code, 1);
  EXPECT_EQ(e2e::ReadFile(dir / "data.krf"), before);
  ::SetFileAttributesW(archive.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(WindowsConsole, ListingIntoAPipeNeverWaitsForAKey) {
  e2e::ScratchDir dir;
  std::vector<Crafted> entries;
  for (int i = 0; i < 3 * xkrf_test::kPageRows; ++i) {
    entries.push_back(
        {"f" + std::to_string(i) + ".txt", xkrf_test::kLive | xkrf_test::kNone, Bytes{'x'}});
  }
  e2e::WriteFile(dir / "data.krf", xkrf_test::BuildArchive(entries));
  const e2e::RunResult r = xkrf_test::Xkrf({"data", "-list"}, dir.path());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("f65.txt"), std::string::npos) << r.out;
}

}  // namespace
