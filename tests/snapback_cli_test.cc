// snapback's command line, skips and exit statuses: 0 all done, 2 some
// images skipped (each named with its reason on standard error), 1 fatal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "snapback_support.h"

namespace snaptest {
namespace {

class Cli : public SnapbackTest {
 protected:
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
  e2e::WriteFile(dir_ / "keep.wad", std::string("precious"));
  const auto r = Tool(SNAPBACK_BIN, {"wad", "keep.wad", "odd.pcx"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("keep.wad: not written"), std::string::npos) << r.err;
  const Bytes kept = e2e::ReadFile(dir_ / "keep.wad");
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "precious");
}

TEST_F(Cli, FatalErrorsEndWithStatusOne) {
  MakePcx("ok", 8, 8);
  std::remove((dir_ / "ok.lmp").c_str());
  e2e::WriteFile(dir_ / "short.lmp", Bytes(767, 1));
  ASSERT_EQ(mkfifo((dir_ / "fifo.lmp").c_str(), 0600), 0);
  const std::vector<std::vector<std::string>> cases = {
      {"lmp", "-p", "short.lmp", "ok.pcx"},  // a palette shorter than 768 bytes
      {"lmp", "-p", "none.lmp", "ok.pcx"},
      {"lmp", "-p", "fifo.lmp", "ok.pcx"},  // refused at once, never waited on
      {"wad", "no/such/dir/x.wad", "ok.pcx"},
      {"lmp", "--dither=1", "ok.pcx"},
      {"bmp", "ok.pcx"},
      {},
  };
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
TEST_F(Cli, OutputFolderThatCannotBeMadeGivesTheRealReason) {
  MakePcx("ok", 8, 8);
  ASSERT_EQ(symlink("nowhere", (dir_ / "dangling").c_str()), 0);
  const auto r = Tool(SNAPBACK_BIN, {"lmp", "-o", "dangling/sub", "ok.pcx"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, std::string("snapback: dangling: cannot create the folder: ") +
                       std::strerror(EEXIST) + "\n");
}

// A pipe whose reader has gone (SIGPIPE at its default, as after `| head
// -1`): every file is written, then the broken pipe is reported, status 1.
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
