// The command line and the run driver: every way a run can end before or
// around the action, byte for byte.
#include <string>
#include <vector>

#include "xkrf_archive.h"
#include "xkrf_run.h"

namespace xkrf_test {
namespace {

using e2e::ScratchDir;

const Bytes kEmptyArchive = {'K', 'e', 'l', 'R', 'F', 0, 0, 0, 0, 0, 0, 0,
                             0,   0,   0,   0,   24,  0, 0, 0, 0, 0, 0, 0};

TEST(XkrfCommandLine, RejectedCommandLinesTouchNothing) {
  const struct {
    std::vector<std::string> args;
    std::string text;  // what follows "Checking commandline arguments: "
  } cases[] = {
      {{},
       "none\n\nUsage: xkrf KRF-file file-mask [-subs -add -del -ext (-list) (-none) -rle]\n\n"},
      {{"-ADD", "data", "*.bin"}, "Unknown switch: 'ADD'\n"},
      {{"-", "data", "*.bin"}, "Unknown switch: ''\n"},
      {{"--add", "data", "*.bin"}, "Unknown switch: '-add'\n"},
      {{"-add", "-subs", "data", "*.bin", "-Subs"}, "add, subs, Unknown switch: 'Subs'\n"},
      {{"data", "*.bin", "third"}, "Already a KRF-File and File-Mask specified !\n"},
      {{"-list", "data", "*.bin", "/add"}, "list, Already a KRF-File and File-Mask specified !\n"},
      {{"-list"}, "list, No KRF-File specified !\n"},
      {{"-subs", "-none", "-ext"}, "subs, none, ext, No KRF-File specified !\n"},
      {{"data"}, "No File-Mask specified !\n"},
      {{"-del", "data"}, "del, No File-Mask specified !\n"},
      {{"data", "-ext"}, "ext, No File-Mask specified !\n"},
      {{"-list", "data", "-add"}, "list, add, No File-Mask specified !\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ScratchDir dir;
    e2e::WriteFile(dir / "a.bin", std::string(50, 'a'));
    ExpectTranscript(Xkrf(c.args, dir.path()), 1,
                     std::string(kBanner) + kChecking + c.text + kClosing);
    EXPECT_EQ(DirNames(dir.path()), std::vector<std::string>{"a.bin"});
  }
}

// The two long options of today's command lines, in any position, answer
// on standard output with status 0 before anything else is looked at.
TEST(XkrfCommandLine, HelpAndVersionAnswerAndTouchNothing) {
  const struct {
    std::vector<std::string> args;
    std::string first_line;
  } cases[] = {
      {{"--help"}, "Usage: xkrf KRF-file [file-mask] [-subs] [-add | -del | -ext | -list | -test]"},
      {{"data", "*.bin", "-del", "--help"}, "Usage: xkrf KRF-file"},
      {{"--version"}, "xkrf (KRF tools) 1.0.0"},
      {{"-list", "--version", "--help"}, "xkrf (KRF tools) 1.0.0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    ScratchDir dir;
    e2e::WriteFile(dir / "a.bin", std::string(50, 'a'));
    const e2e::RunResult r = Xkrf(c.args, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out.substr(0, c.first_line.size()), c.first_line) << r.out;
    EXPECT_EQ(r.out.find("XKRF the ultimate"), std::string::npos);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(DirNames(dir.path()), std::vector<std::string>{"a.bin"});
  }
}

// Only adding makes a new archive; every other action on a name that leads
// to no archive creates nothing and fails, so a misspelt name in a build
// script cannot pass. Nothing that is not a regular file is ever opened as
// an archive, and a symbolic link leading nowhere is never written through.
TEST(XkrfCommandLine, OnlyAddingCreatesAnArchive) {
  const std::string no_such = "Couldn't open 'data.krf': no such file !\n";
  const std::string not_regular = "Couldn't open 'data.krf': not a regular file !\n";
  const std::string dangling =
      "creating 'data.krf'...\nCouldn't create file: 'data.krf' is a symbolic link to nothing !\n";
  enum Stand { kNothing, kDangling, kFifo, kFolder };
  const struct {
    Stand stand;
    std::vector<std::string> args;
    std::string echo;
    std::string mask;
    std::string after_summary;
    int exit_code;
  } cases[] = {
      {kNothing, {"data", "*.bin"}, "", "*.bin", Creating("data.krf") + Finish(0), 0},
      {kNothing, {"data", "-list"}, "list, ", "", no_such + kClosing, 1},
      {kNothing, {"-ext", "data", "*.*"}, "ext, ", "*.*", no_such + kClosing, 1},
      {kNothing, {"data", "*.*", "-del"}, "del, ", "*.*", no_such + kClosing, 1},
      {kNothing, {"data", "-test"}, "test, ", "", no_such + kClosing, 1},
      {kDangling, {"data", "-list"}, "list, ", "", no_such + kClosing, 1},
      {kDangling, {"data", "*.bin"}, "", "*.bin", dangling + kClosing, 1},
      {kFifo, {"data", "-list"}, "list, ", "", not_regular + kClosing, 1},
      {kFifo, {"data", "-test"}, "test, ", "", not_regular + kClosing, 1},
      {kFifo, {"data", "*.*", "-ext"}, "ext, ", "*.*", not_regular + kClosing, 1},
      {kFifo, {"data", "*.bin"}, "", "*.bin", not_regular + kClosing, 1},
      {kFolder,
       {"data", "-list"},
       "list, ",
       "",
       "Couldn't open 'data.krf': Is a directory !\n" + std::string(kClosing),
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.echo + c.mask + " on " + std::to_string(c.stand));
    // Windows has no FIFOs, and no links for ordinary programs.
    if (e2e::kWindows && (c.stand == kDangling || c.stand == kFifo)) continue;
    ScratchDir dir;
    if (c.stand == kDangling) {
      ASSERT_TRUE(e2e::MakeSymlink("nowhere/x.krf", dir / "data.krf"));
    }
    if (c.stand == kFifo) {
      ASSERT_TRUE(e2e::MakeFifo(dir / "data.krf"));
    }
    if (c.stand == kFolder) e2e::MakeDirs(dir / "data.krf");
    ExpectTranscript(Xkrf(c.args, dir.path()), c.exit_code,
                     Summary(c.echo, "data.krf", c.mask) + c.after_summary);
    if (c.stand == kNothing && c.exit_code == 0) {
      EXPECT_EQ(e2e::ReadFile(dir / "data.krf"), kEmptyArchive);
    }
    const std::vector<std::string> left = c.stand == kNothing && c.exit_code != 0
                                              ? std::vector<std::string>{}
                                              : std::vector<std::string>{"data.krf"};
    EXPECT_EQ(DirNames(dir.path()), left);
    EXPECT_FALSE(e2e::Exists(dir / "nowhere"));
  }
}

TEST(XkrfCommandLine, ArchiveThatCannotBeCreated) {
  const struct {
    std::string what;
    std::string arg;
    std::string shown;
  } cases[] = {
      {"missing folder", "nodir/data", "nodir/data.krf"},
      {"a folder under the name", "taken", "taken.krf"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    e2e::MakeDirs(dir / "taken.krf");
    ExpectTranscript(Xkrf({c.arg, "*.bin"}, dir.path()), 1,
                     Summary("", c.shown, "*.bin") + "creating '" + c.shown + "'...\n" +
                         "Couldn't create file !\n" + kClosing);
    EXPECT_EQ(DirNames(dir.path()), std::vector<std::string>{"taken.krf"});
  }
}

TEST(XkrfCommandLine, LaterSwitchOfAGroupWins) {
  const Bytes runny(100, 'a');
  const struct {
    std::vector<std::string> args;
    std::string echo;
    std::string action_text;
    int32_t type;  // of a.bin afterwards; 0: no entry
    int progressed;
  } cases[] = {
      {{"-add", "-list", "data", "*.bin"}, "add, list, ", kListHead, 0, 0},
      {{"-list", "-add", "data", "*.bin"}, "list, add, ", Adding("a.bin"), kLive | kRle, 1},
      {{"-none", "-rle", "data", "*.bin"}, "none, rle, ", Adding("a.bin"), kLive | kRle, 1},
      {{"data", "-rle", "*.bin", "-none"}, "rle, none, ", Adding("a.bin", false), kLive | kNone, 1},
      {{"-ext", "-del", "-add", "data", "*.bin"},
       "ext, del, add, ",
       Adding("a.bin"),
       kLive | kRle,
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.echo);
    ScratchDir dir;
    e2e::WriteFile(dir / "a.bin", runny);
    e2e::WriteFile(dir / "data.krf", kEmptyArchive);
    ExpectTranscript(
        Xkrf(c.args, dir.path()), 0,
        Summary(c.echo, "data.krf", "*.bin") + Contains(0) + c.action_text + Finish(c.progressed));
    const Archive archive = LoadArchive(dir / "data.krf");
    if (c.type == 0) {
      EXPECT_TRUE(archive.entries.empty());
      continue;
    }
    ASSERT_EQ(archive.entries.size(), 1u);
    EXPECT_EQ(archive.entries[0].type, c.type);
    EXPECT_EQ(archive.Content(archive.entries[0]), runny);
    EXPECT_TRUE(IsFinishedArchive(dir / "data.krf"));
  }
}

TEST(XkrfCommandLine, ArgumentsAreLowerCasedAndTheMaskPathShown) {
  const struct {
    std::vector<std::string> args;
    std::string file;     // created before the run, relative to the scratch dir
    std::string archive;  // as shown
    std::string on_disk;  // where the archive must appear
    std::string mask;
    std::string mask_path;
    std::string stored;
  } cases[] = {
      {{"Gfx", "PICS.PCX"}, "PICS.PCX", "gfx.krf", "gfx.krf", "pics.pcx", "", "pics.pcx"},
      {{"pics.krf", "*.pcx"}, "a.pcx", "pics.krf.krf", "pics.krf.krf", "*.pcx", "", "a.pcx"},
      {{"data", "gfx/*.pcx"},
       "gfx/A.PCX",
       "data.krf",
       "data.krf",
       "gfx\\*.pcx",
       "gfx\\",
       "gfx\\a.pcx"},
      {{"data", "gfx\\*.pcx"},
       "gfx/a.pcx",
       "data.krf",
       "data.krf",
       "gfx\\*.pcx",
       "gfx\\",
       "gfx\\a.pcx"},
      {{"data", "GFX/Walls/*.PCX"},
       "Gfx/Walls/b.pcx",
       "data.krf",
       "data.krf",
       "gfx\\walls\\*.pcx",
       "gfx\\walls\\",
       "gfx\\walls\\b.pcx"},
      {{"Sub/Pics", "SUB/*.pcx"},
       "Sub/a.pcx",
       "sub/pics.krf",
       "Sub/pics.krf",
       "sub\\*.pcx",
       "sub\\",
       "sub\\a.pcx"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mask);
    ScratchDir dir;
    e2e::WriteFile(dir / c.file, std::string(20, 'q'));
    ExpectTranscript(Xkrf(c.args, dir.path()), 0,
                     Summary("", c.archive, c.mask, c.mask_path) + Creating(c.archive) +
                         Adding(c.stored) + Finish(1));
    EXPECT_TRUE(IsFinishedArchive(dir / c.on_disk));
    EXPECT_EQ(LoadArchive(dir / c.on_disk).Names(), std::vector<std::string>{c.stored});
  }
}

TEST(XkrfCommandLine, ListingWithoutMaskShowsEveryEntry) {
  ScratchDir dir;
  const Bytes a = e2e::RandomBytes(30, 5);
  const Bytes b = EncodeRle(Bytes(300, 'b'));
  e2e::WriteFile(dir / "data.krf", BuildArchive({{"a.bin", kLive | kNone, a},
                                                 {"gfx\\deep\\b.txt", kLive | kRle, b, 300}}));
  ExpectTranscript(
      Xkrf({"-list", "Data"}, dir.path()), 0,
      Summary("list, ", "data.krf", "") + Contains(2) + kListHead +
          "a.bin                                    30        none          30     0.00%\n"
          "gfx\\deep\\b.txt                          300         RLE          10    96.67%\n" +
          std::string(20, '\n') + Finish(0));
}

TEST(XkrfCommandLine, ArchiveTooShortForItsHeaderIsFatalAndKeptAsItWas) {
  for (const size_t length : {0, 1, 23}) {
    for (const bool list : {false, true}) {
      SCOPED_TRACE(std::to_string(length) + (list ? " list" : " add"));
      ScratchDir dir;
      const Bytes content(kEmptyArchive.begin(), kEmptyArchive.begin() + length);
      e2e::WriteFile(dir / "data.krf", content);
      e2e::WriteFile(dir / "a.bin", std::string(10, 'a'));
      const std::vector<std::string> args = list ? std::vector<std::string>{"data", "-list"}
                                                 : std::vector<std::string>{"data", "*.bin"};
      ExpectTranscript(
          Xkrf(args, dir.path()), 1,
          Summary(list ? "list, " : "", "data.krf", list ? "" : "*.bin") + kFatal + kClosing);
      EXPECT_EQ(e2e::ReadFile(dir / "data.krf"), content);
    }
  }
}

}  // namespace
}  // namespace xkrf_test
