// snapback's command line, skips and exit statuses: 0 all done, 2 some
// images skipped (each named with its reason on standard error), 1 fatal.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "png_builder.h"
#include "snapback_support.h"

namespace snaptest {
namespace {

class Cli : public SnapbackTest {
 protected:
#ifndef _WIN32
  // A run held half-way: its images, then thousands of missing ones whose
  // messages fill a standard error nobody reads.
  struct Stalled {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
    std::string first_line;  // of standard output, as it arrived
    // Sends `sig` and returns the signal that ended the run (0: it exited).
    int Stop(int sig) {
      kill(pid, sig);
      int status = 0;
      waitpid(pid, &status, 0);
      close(out);
      close(err);
      return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
  };
  Stalled Stall(std::vector<std::string> args) {
    for (int i = 0; i < 3000; ++i) args.push_back("missing" + std::to_string(i) + ".pcx");
    int out_pipe[2], err_pipe[2];
    EXPECT_EQ(pipe2(out_pipe, O_CLOEXEC), 0);
    EXPECT_EQ(pipe2(err_pipe, O_CLOEXEC), 0);
    Stalled run;
    run.pid = e2e::Spawn(SNAPBACK_BIN, args, dir_.path(), out_pipe[1], err_pipe[1], {});
    close(out_pipe[1]);
    close(err_pipe[1]);
    run.out = out_pipe[0];
    run.err = err_pipe[0];
    pollfd wait = {run.out, POLLIN, 0};
    while (run.first_line.find('\n') == std::string::npos && poll(&wait, 1, 10000) == 1) {
      char buf[256];
      const ssize_t n = read(run.out, buf, sizeof buf);
      if (n <= 0) break;
      run.first_line.append(buf, static_cast<size_t>(n));
    }
    return run;
  }
#endif

  // An 8-bit PCX of `w` x `h` with the test palette, written by picsnap.
  void MakePcx(const std::string& name, int w, int h) {
    e2e::WriteFile(dir_ / (name + ".lmp"),
                   convtest::PicLump(w, h, convtest::TestImage(w, h, 1).pixels));
    ASSERT_EQ(Tool(PICSNAP_BIN, {name}).exit_code, 0);
  }
};

TEST_F(Cli, SkipsEndWithStatusTwoAndTheirReasons) {
  MakePcx("ok", 8, 8);
  MakePcx("odd", 12, 8);
  MakePcx("name_of_sixteen_", 8, 8);
  e2e::WriteFile(dir_ / "junk.png", std::string("\x89PNG\r\n\x1a\n not really", 19));
  struct Case {
    std::vector<std::string> args;
    std::string reason;  // expected in the skip message
  };
  const Case cases[] = {
      {{"wad", "a.wad", "ok.pcx", "odd.pcx"},
       "odd.pcx: skipped: a texture's sides must be multiples of 8"},
      {{"wad", "b.wad", "ok.pcx", "name_of_sixteen_.pcx"}, "longer than 15 characters"},
      {{"wad", "c.wad", "ok.pcx", "ok.pcx"}, "the lump name 'ok' is taken already"},
      {{"wal", "-o", "w", "ok.pcx", "missing.pcx"},
       "missing.pcx: skipped: No such file or directory"},
      {{"lmp", "-o", "l", "junk.png", "ok.pcx"}, "junk.png: skipped: "},
  };
  for (const Case& c : cases) {
    const auto r = Tool(SNAPBACK_BIN, c.args);
    EXPECT_EQ(r.exit_code, 2) << c.args[1];
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << c.args[1] << ": " << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << "one line per file written";
  }
  EXPECT_EQ(ReadWad(e2e::ReadFile(dir_ / "a.wad")).size(), 1u);
  EXPECT_TRUE(e2e::Exists(dir_ / "w/ok.wal"));
  EXPECT_TRUE(e2e::Exists(dir_ / "l/ok.lmp"));
}

TEST_F(Cli, AllSkippedLeavesAnExistingWadAlone) {
  MakePcx("odd", 12, 8);
  e2e::WriteFile(dir_ / "keep.wad", std::string("WAD2precious"));
  const auto r = Tool(SNAPBACK_BIN, {"wad", "keep.wad", "odd.pcx"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("keep.wad: not written"), std::string::npos) << r.err;
  const Bytes kept = e2e::ReadFile(dir_ / "keep.wad");
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "WAD2precious");
}

// An input is never written: a wad OUT that is one of the images (by any
// spelling) or that holds no WAD2 file ends the run before anything is
// written; an lmp or wal output that is an input is skipped.
#ifndef _WIN32
TEST_F(Cli, InputsAreNeverOutputs) {
  MakePcx("a", 8, 8);
  MakePcx("b", 8, 8);
  MakePcx("pal", 8, 8);
  e2e::WriteFile(dir_ / "pal.lmp", e2e::ReadFile(dir_ / "palette.lmp"));
  std::remove((dir_ / "b.lmp").c_str());
  ASSERT_EQ(symlink("a.pcx", (dir_ / "alias.pcx").c_str()), 0);
  ASSERT_EQ(symlink("a.pcx", (dir_ / "b.lmp").c_str()), 0);
  e2e::WriteFile(dir_ / "notes.wad", std::string("not a wad"));
  const Bytes a = e2e::ReadFile(dir_ / "a.pcx");
  const Bytes pal = e2e::ReadFile(dir_ / "pal.lmp");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {{"wad", "a.pcx", "a.pcx", "b.pcx"}, 1, "a.pcx: is the image a.pcx itself"},
      {{"wad", "./alias.pcx", "b.pcx", "a.pcx"}, 1, "./alias.pcx: is the image a.pcx itself"},
      {{"wad", "a.pcx", "b.pcx"}, 1, "a.pcx: exists and is no WAD2 file"},
      {{"wad", "notes.wad", "b.pcx"}, 1, "notes.wad: exists and is no WAD2 file"},
      {{"wad", "-p", "pal.lmp", "pal.lmp", "b.pcx"}, 1, "pal.lmp: is the palette"},
      {{"lmp", "-p", "pal.lmp", "pal.pcx"}, 2, "pal.pcx: skipped: pal.lmp is an input of this run"},
      {{"lmp", "alias.pcx", "b.pcx"}, 2, "b.pcx: skipped: b.lmp is an input of this run"},
  };
  for (const Case& c : cases) {
    const auto r = Tool(SNAPBACK_BIN, c.args);
    EXPECT_EQ(r.exit_code, c.status) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_EQ(e2e::ReadFile(dir_ / "a.pcx"), a);
  EXPECT_EQ(e2e::ReadFile(dir_ / "pal.lmp"), pal);
  const Bytes notes = e2e::ReadFile(dir_ / "notes.wad");
  EXPECT_EQ(std::string(notes.begin(), notes.end()), "not a wad");
  EXPECT_TRUE(e2e::Exists(dir_ / "alias.lmp")) << "the run goes on after a skip";
}
#else
TEST_F(Cli, InputsAreNeverOutputs) { E2E_WINDOWS_LACKS("POSIX symbolic links"); }
#endif

// Outputs are compared as files: the second image of one output is skipped
// with both named, and a name that cannot be had skips only its image.
#ifndef _WIN32
TEST_F(Cli, EachOutputOnceAndBadNamesSkipOnlyTheirImage) {
  MakePcx("t", 8, 8);
  MakePcx("u", 8, 8);
  e2e::MakeDirs(dir_ / "sub");
  e2e::WriteFile(dir_ / "sub/t.pcx", e2e::ReadFile(dir_ / "t.pcx"));
  ASSERT_EQ(symlink("sub", (dir_ / "link").c_str()), 0);
  std::remove((dir_ / "u.lmp").c_str());
  e2e::MakeDirs(dir_ / "u.lmp");          // a folder where an output should go
  const std::string long_name(253, 'n');  // its output's name is four bytes longer
  e2e::WriteFile(dir_ / long_name, e2e::ReadFile(dir_ / "t.pcx"));
  const std::string cases[][4] = {
      {"lmp", "t.pcx", "./t.pcx",
       "./t.pcx: skipped: ./t.lmp was written already by this run, from t.pcx"},
      {"wal", "sub/t.pcx", "link/t.pcx",
       "link/t.pcx: skipped: link/t.wal was written already by this run, from sub/t.pcx"},
      {"lmp", "u.pcx", "t.pcx", "u.pcx: skipped: u.lmp: cannot create: Is a directory"},
      {"lmp", long_name, "t.pcx", ": cannot create: File name too long"},
  };
  for (const auto& c : cases) {
    const auto r = Tool(SNAPBACK_BIN, {c[0], c[1], c[2]});
    EXPECT_EQ(r.exit_code, 2) << c[3];
    EXPECT_NE(r.err.find(c[3]), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
  }
  EXPECT_TRUE(e2e::Exists(dir_ / "t.lmp"));
  EXPECT_TRUE(e2e::Exists(dir_ / "sub/t.wal"));
}
#else
TEST_F(Cli, EachOutputOnceAndBadNamesSkipOnlyTheirImage) {
  E2E_WINDOWS_LACKS("POSIX symbolic links");
}
#endif

// Lines written reach a pipe while the run still goes on, here stalled on a
// standard error nobody reads.
#ifndef _WIN32
TEST_F(Cli, LinesReachAPipeWhileTheRunGoesOn) {
  MakePcx("ok", 8, 8);
  Stalled run = Stall({"lmp", "ok.pcx"});
  EXPECT_EQ(run.first_line, "ok.pcx -> ok.lmp (8x8)\n");
  run.Stop(SIGKILL);
}
#else
TEST_F(Cli, LinesReachAPipeWhileTheRunGoesOn) { E2E_WINDOWS_LACKS("signals"); }
#endif

// A run stopped by a signal, a catchable one or kill -9, leaves no file of
// its own behind, and the previous OUT.wad as it was.
#ifndef _WIN32
TEST_F(Cli, StoppedRunsLeaveNothingBehind) {
  MakePcx("ok", 8, 8);
  ASSERT_EQ(Tool(SNAPBACK_BIN, {"wad", "out.wad", "ok.pcx"}).exit_code, 0);
  const Bytes before = e2e::ReadFile(dir_ / "out.wad");
  const auto listing = [this] {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  const std::vector<std::string> files = listing();
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
    Stalled run = Stall({"wad", "out.wad", "ok.pcx"});
    EXPECT_EQ(run.first_line, "ok.pcx -> out.wad: ok (8x8)\n") << sig;
    EXPECT_EQ(run.Stop(sig), sig);
    EXPECT_EQ(listing(), files) << "signal " << sig;
    EXPECT_EQ(e2e::ReadFile(dir_ / "out.wad"), before) << "signal " << sig;
  }
}
#else
TEST_F(Cli, StoppedRunsLeaveNothingBehind) { E2E_WINDOWS_LACKS("signals"); }
#endif

// An image's size is judged from its header, before its data is read or
// memory is taken for its pixels; of a file that is no image, or of bytes
// behind a PCX image's scan lines, no more than the first bytes are read.
TEST_F(Cli, ImagesAreJudgedFromTheirHeaders) {
  MakePcx("ok", 8, 8);
  // A PNG claiming 16400 x 16392, more than 2^28 pixels, in a few bytes.
  Bytes bomb = {0x89, 'P', 'N', 'G',  '\r', '\n', 0x1A, '\n', 0,    0, 0, 13, 'I', 'H', 'D',
                'R',  0,   0,   0x40, 0x10, 0,    0,    0x40, 0x08, 8, 0, 0,  0,   0};
  bomb.resize(64 * 1024, 0);
  e2e::WriteFile(dir_ / "bomb.png", bomb);
  // A PCX claiming 8192 x 8192 over a few runs: too large for a picture.
  Bytes large = e2e::ReadFile(dir_ / "ok.pcx");
  large[8] = large[10] = 0xFF;
  large[9] = large[11] = 0x1F;
  large[66] = 0x00;
  large[67] = 0x20;
  e2e::WriteFile(dir_ / "large.pcx", large);
  // 8 x 8 pixels, then 32 MiB that no pixel needs, then the palette; made
  // without holding them, as what this process holds at the start of a run
  // counts in the run's peak.
  Bytes padded = e2e::ReadFile(dir_ / "ok.pcx");
  const Bytes palette(padded.end() - 769, padded.end());
  padded.resize(padded.size() - 769);
  e2e::WriteFile(dir_ / "padded.pcx", padded);
  std::filesystem::resize_file(std::filesystem::path(dir_.path()) / "padded.pcx",
                               padded.size() + (32 << 20));
  std::ofstream(dir_ / "padded.pcx", std::ios::binary | std::ios::app)
      .write(reinterpret_cast<const char*>(palette.data()), static_cast<long>(palette.size()));
  std::filesystem::resize_file(std::filesystem::path(dir_.path()) / "bomb.png", 32 << 20);
  e2e::WriteFile(dir_ / "junk.png", std::string("no image"));
  std::filesystem::resize_file(std::filesystem::path(dir_.path()) / "junk.png", 32 << 20);
  const auto r = e2e::Run(SNAPBACK_BIN,
                          {"wal", "-o", "out", "bomb.png", "junk.png", "large.pcx", "padded.pcx"},
                          dir_.path());
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(
      r.err.find("bomb.png: skipped: an image of 16400x16392 pixels is more than 2^28 pixels"),
      std::string::npos)
      << r.err;
  EXPECT_EQ(r.out, "padded.pcx -> out/padded.wal (8x8)\n");
  const auto pictures = e2e::Run(SNAPBACK_BIN, {"lmp", "-o", "out", "large.pcx"}, dir_.path());
  EXPECT_EQ(pictures.err, "snapback: large.pcx: skipped: image too large\n");
  const auto small = e2e::Run(SNAPBACK_BIN, {"wal", "-o", "out", "ok.pcx"}, dir_.path());
  ASSERT_EQ(small.exit_code, 0) << small.err;
  const Bytes padded_wal = e2e::ReadFile(dir_ / "out/padded.wal");
  const Bytes ok_wal = e2e::ReadFile(dir_ / "out/ok.wal");
  EXPECT_TRUE(
      std::equal(padded_wal.begin() + 32, padded_wal.end(), ok_wal.begin() + 32, ok_wal.end()))
      << "the same texture but for its name";
#ifndef KRF_SANITIZED
  EXPECT_LT(r.max_rss_kb - small.max_rss_kb, 16 * 1024)
      << "peak " << r.max_rss_kb << " KiB against " << small.max_rss_kb << " KiB";
#endif
}

// A PNG is read from its file as it is decoded, and its colours become
// indices a line at a time: memory holds the indices and the picture
// written from them, not the file nor an RGBA copy of its pixels (here of
// eight and four bytes a pixel).
TEST_F(Cli, PngIsMappedAsItIsDecoded) {
  MakePcx("ok", 8, 8);
  constexpr uint32_t kSide = 1024;
  // Written a row at a time: what this process holds at the start of a
  // run counts in the run's peak.
  std::ofstream file(dir_ / "big.png", std::ios::binary);
  pngtest::StreamStoredPng(
      kSide, kSide, 16, 6,
      [](uint32_t y) {
        Bytes row;  // 16-bit RGBA, big-endian
        for (uint32_t x = 0; x < kSide; ++x) {
          const auto r = static_cast<uint8_t>(x), g = static_cast<uint8_t>(y);
          row.insert(row.end(), {r, 0, g, 0, static_cast<uint8_t>(r ^ g), 0, 255, 255});
        }
        return row;
      },
      [&file](const Bytes& part) {
        file.write(reinterpret_cast<const char*>(part.data()), static_cast<long>(part.size()));
      });
  file.close();
  ASSERT_TRUE(file);
  const auto big = e2e::Run(SNAPBACK_BIN, {"lmp", "-o", "out", "big.png"}, dir_.path());
  ASSERT_EQ(big.exit_code, 0) << big.err;
  const auto small = e2e::Run(SNAPBACK_BIN, {"lmp", "-o", "out", "ok.pcx"}, dir_.path());
  ASSERT_EQ(small.exit_code, 0) << small.err;
  constexpr size_t kPixels = size_t{kSide} * kSide;
  const Bytes lump = e2e::ReadFile(dir_ / "out/big.lmp");
  ASSERT_EQ(lump.size(), 8 + kPixels);
  for (size_t i = 0; i < kPixels; i += 997) {
    const unsigned r = i % kSide & 0xFF, g = i / kSide & 0xFF;
    ASSERT_EQ(lump[8 + i], Nearest(palette_, r, g, r ^ g)) << "pixel " << i;
  }
#ifndef KRF_SANITIZED
  const long index_kb = static_cast<long>(kPixels / 1024);
  EXPECT_LT(big.max_rss_kb - small.max_rss_kb, 4 * index_kb)
      << "peak " << big.max_rss_kb << " KiB against " << small.max_rss_kb << " KiB";
#endif
}

TEST_F(Cli, FatalErrorsEndWithStatusOne) {
  MakePcx("ok", 8, 8);
  std::remove((dir_ / "ok.lmp").c_str());
  e2e::WriteFile(dir_ / "short.lmp", Bytes(767, 1));
  std::vector<std::vector<std::string>> cases = {
      {"lmp", "-p", "short.lmp", "ok.pcx"},  // a palette shorter than 768 bytes
      {"lmp", "-p", "none.lmp", "ok.pcx"},
      {"wad", "no/such/dir/x.wad", "ok.pcx"},
      {"lmp", "--dither=1", "ok.pcx"},
      {"bmp", "ok.pcx"},
      {},
  };
  if (!e2e::kWindows) {  // which has no FIFOs
    ASSERT_TRUE(e2e::MakeFifo(dir_ / "fifo.lmp"));
    cases.push_back({"lmp", "-p", "fifo.lmp", "ok.pcx"});  // refused at once, never waited on
  }
  for (const auto& args : cases) {
    const auto r = Tool(SNAPBACK_BIN, args);
    EXPECT_EQ(r.exit_code, 1) << (args.empty() ? "" : args[0] + " " + args[1]);
    EXPECT_EQ(r.err.rfind("snapback: ", 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(e2e::Exists(dir_ / "ok.lmp"));
}

TEST_F(Cli, HelpAndVersionAnswerOnStandardOutput) {
  for (const std::string arg : {"--help", "-h"}) {
    const auto r = Tool(SNAPBACK_BIN, {arg});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out.rfind("Usage: snapback lmp", 0), 0u) << r.out;
  }
  const auto v = Tool(SNAPBACK_BIN, {"wal", "--version"});
  EXPECT_EQ(v.exit_code, 0);
  EXPECT_EQ(v.out.rfind("snapback (KRF tools) ", 0), 0u) << v.out;
}

// A folder -o cannot create is named with mkdir's own reason: a dangling
// link stands in the way (File exists), not a missing folder.
#ifndef _WIN32
TEST_F(Cli, OutputFolderThatCannotBeMadeGivesTheRealReason) {
  MakePcx("ok", 8, 8);
  ASSERT_EQ(symlink("nowhere", (dir_ / "dangling").c_str()), 0);
  const auto r = Tool(SNAPBACK_BIN, {"lmp", "-o", "dangling/sub", "ok.pcx"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, std::string("snapback: dangling: cannot create the folder: ") +
                       std::strerror(EEXIST) + "\n");
}
#else
TEST_F(Cli, OutputFolderThatCannotBeMadeGivesTheRealReason) {
  E2E_WINDOWS_LACKS("POSIX symbolic links");
}
#endif

// A pipe whose reader has gone (SIGPIPE at its default, as after `| head
// -1`): every file is written, then the broken pipe is reported, status 1.
#ifndef _WIN32
TEST_F(Cli, BrokenPipeIsReportedAfterTheWork) {
  MakePcx("ok", 8, 8);
  const auto r = convtest::RunWithin(SNAPBACK_BIN, {"wad", "all.wad", "ok.pcx", "ok.pcx"},
                                     dir_.path(), std::chrono::milliseconds(60000), [] {
                                       int p[2];
                                       if (pipe(p) != 0) _exit(125);
                                       dup2(p[1], STDOUT_FILENO);
                                       close(p[0]);
                                       signal(SIGPIPE, SIG_DFL);
                                     });
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err,
            "snapback: ok.pcx: skipped: the lump name 'ok' is taken already\n"
            "snapback: write error: Broken pipe\n");
  EXPECT_EQ(ReadWad(e2e::ReadFile(dir_ / "all.wad")).size(), 1u);
}
#else
TEST_F(Cli, BrokenPipeIsReportedAfterTheWork) { E2E_WINDOWS_LACKS("SIGPIPE"); }
#endif

TEST_F(Cli, OutputFolderIsCreatedAndNamesKeptAsTheyAre) {
  e2e::WriteFile(
      dir_ / "gfx.wad",
      convtest::Wad({{"*water", convtest::MiptexLump(8, 8, convtest::TestImage(8, 8, 5).pixels)}}));
  e2e::MakeDirs(dir_ / "textures");
  ASSERT_EQ(Tool(MIPSNAP_BIN, {"gfx.wad"}).exit_code, 0);
  const auto r = Tool(SNAPBACK_BIN, {"wal", "textures/~water.pcx", "-o", "deep/er/"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "textures/~water.pcx -> deep/er/~water.wal (8x8)\n");
  const Bytes wal = e2e::ReadFile(dir_ / "deep/er/~water.wal");
  EXPECT_EQ(Field(wal, 0, 32), "*water") << "the name field turns '~' back into '*'";
}

}  // namespace
}  // namespace snaptest
