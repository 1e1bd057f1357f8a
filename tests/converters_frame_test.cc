// What the three converters share: banner, argument check, palette load,
// closing screen, exit status, files that are not regular files, and the
// console: its write errors and how often progress is written.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#endif

#include <cctype>
#include <cstring>
#include <filesystem>
#include <functional>

#include "converters_support.h"

namespace convtest {
namespace {

struct Tool {
  std::string name;
  std::string binary;
  std::vector<std::string> args;
  std::string progress;  // console output after the banner of a good run
  std::string output;    // the PCX file that run writes
  std::string refused;   // console output after the banner when it cannot be created
};

std::vector<Tool> Tools() {
  return {
      {"PICSNAP",
       PICSNAP_BIN,
       {"a"},
       ", picture: width 3, height 2",
       "a.pcx",
       ", picture: width 3, height 2 !! Could not create PCX file !"},
      {"MIPSNAP",
       MIPSNAP_BIN,
       {"t.wad"},
       "Converting all textures from 't.wad' into 'textures/*.pcx':\n"
       "   - pic..., picture: width 3, height 2\n",
       "textures/pic.pcx",
       "Converting all textures from 't.wad' into 'textures/*.pcx':\n"
       "   - pic..., picture: width 3, height 2 !! Could not create PCX file !\n"},
      {"TEXSNAP",
       TEXSNAP_BIN,
       {},
       "Converting all textures into 'textures/*.pcx':\n"
       "texture 'textures/w.pcx': width 3, height 2\n",
       "textures/w.pcx",
       "Converting all textures into 'textures/*.pcx':\n"
       "texture 'textures/w.pcx': width 3, height 2\nCould not create PCX file !\n"},
  };
}

[[maybe_unused]] std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Long enough for any run of these tests on a loaded machine; a run that
// waits for a FIFO's peer never ends and is killed then.
constexpr std::chrono::seconds kRunLimit{10};

const Image kImage = TestImage(3, 2, 1);

// One good input for each tool, all in one directory.
void WriteInputs(const e2e::ScratchDir& dir) {
  e2e::WriteFile(dir / "a.lmp", PicLump(3, 2, kImage.pixels));
  e2e::WriteFile(dir / "t.wad", Wad({{"pic", PicLump(3, 2, kImage.pixels)}}));
  e2e::WriteFile(dir / "w.wal", WalFile(3, 2, kImage.pixels));
  e2e::MakeDirs(dir / "textures");
}

TEST(ConverterFrame, PaletteProblemsEndBeforeAnyInput) {
  struct Case {
    const char* what;
    int palette_size;  // -1: no file
    std::string message;
  };
  const Case cases[] = {
      {"missing", -1, "Could not open 'palette.lmp' !"},
      {"767 bytes", 767, kRw},
      {"empty", 0, kRw},
  };
  for (const Case& c : cases) {
    for (const Tool& tool : Tools()) {
      e2e::ScratchDir dir;
      WriteInputs(dir);
      if (c.palette_size >= 0) {
        e2e::WriteFile(dir / "palette.lmp",
                       e2e::RandomBytes(static_cast<size_t>(c.palette_size), 3));
      }
      const auto r = e2e::Run(tool.binary, tool.args, dir.path());
      EXPECT_EQ(r.out, Banner(tool.name) + Fatal(tool.name, c.message))
          << tool.name << ": " << c.what;
      EXPECT_EQ(r.exit_code, 1) << tool.name << ": " << c.what;
      EXPECT_FALSE(e2e::Exists(dir / tool.output)) << tool.name << ": " << c.what;
    }
  }
}

// --help and --version, anywhere on the command line, answer on standard
// output with status 0 before the palette or any input is looked at.
TEST(ConverterFrame, HelpAndVersionAnswerWithoutAPalette) {
  for (const Tool& tool : Tools()) {
    SCOPED_TRACE(tool.name);
    e2e::ScratchDir dir;
    std::vector<std::string> args = tool.args;
    args.push_back("--help");
    auto r = e2e::Run(tool.binary, args, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    std::string lower = tool.name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(r.out.rfind("Usage: " + lower + " ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("See " + lower + "(1).\n"), std::string::npos) << r.out;
    r = e2e::Run(tool.binary, {"--version", "-png"}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out.rfind(lower + " (KRF tools) 1.0.0\nCopyright", 0), 0u) << r.out;
    EXPECT_EQ(e2e::Exists(dir / "textures"), false);
  }
}

TEST(ConverterFrame, PaletteIsItsFirst768Bytes) {
  for (const Tool& tool : Tools()) {
    e2e::ScratchDir dir;
    WriteInputs(dir);
    const Bytes palette_file = e2e::RandomBytes(1000, 11);
    e2e::WriteFile(dir / "palette.lmp", palette_file);
    const auto r = e2e::Run(tool.binary, tool.args, dir.path());
    EXPECT_EQ(r.out, Banner(tool.name) + tool.progress) << tool.name;
    EXPECT_EQ(r.exit_code, 0) << tool.name;
    ExpectPcx(dir / tool.output, kImage, Bytes(palette_file.begin(), palette_file.begin() + 768));
    EXPECT_TRUE(r.err.empty()) << r.err;
  }
}

TEST(ConverterFrame, MissingArgumentComesBeforeThePalette) {
  const struct {
    std::string tool, binary, message;
  } cases[] = {
      {"PICSNAP", PICSNAP_BIN, "No LUMP (.lmp) file specified !\n"},
      {"MIPSNAP", MIPSNAP_BIN, "No WAD file specified !\n"},
  };
  for (const auto& c : cases) {
    e2e::ScratchDir dir;
    const auto r = e2e::Run(c.binary, {}, dir.path());
    EXPECT_EQ(r.out, Banner(c.tool) + Fatal(c.tool, c.message)) << c.tool;
    EXPECT_EQ(r.exit_code, 1) << c.tool;
  }
}

// Console output that cannot be written (standard output closed, a full
// disk behind it, a pipe nobody reads) never reaches a
// file: the run converts everything as usual, then reports the failure on
// standard error and ends with 1.
#ifndef _WIN32
TEST(ConverterFrame, ConsoleWriteErrorsEndWithStatus1AndTheFilesIntact) {
  const bool have_full = access("/dev/full", W_OK) == 0;
  struct Console {
    const char* what;
    int error;                      // the errno the report names
    std::function<void()> prepare;  // sets up standard output in the child
  };
  int broken[2];
  ASSERT_EQ(pipe2(broken, O_CLOEXEC), 0);
  close(broken[0]);  // nobody will ever read
  const Console consoles[] = {
      {"standard output closed", EBADF, [] { close(STDOUT_FILENO); }},
      // The input then takes descriptor 0 and the PCX file 1, unless the
      // tool guards them.
      {"standard input and output closed", EBADF,
       [] {
         close(STDIN_FILENO);
         close(STDOUT_FILENO);
       }},
      {"standard output on /dev/full", ENOSPC,
       [] {
         const int full = open("/dev/full", O_WRONLY);
         dup2(full, STDOUT_FILENO);
         close(full);
       }},
      // As a shell leaves it: `picsnap a | head -1` once head is gone.
      {"standard output a broken pipe, SIGPIPE at its default", EPIPE,
       [&] {
         dup2(broken[1], STDOUT_FILENO);
         signal(SIGPIPE, SIG_DFL);
       }},
  };
  for (const Tool& tool : Tools()) {
    e2e::ScratchDir normal;
    WriteInputs(normal);
    e2e::WriteFile(normal / "palette.lmp", Palette(3));
    ASSERT_EQ(e2e::Run(tool.binary, tool.args, normal.path()).exit_code, 0) << tool.name;
    const Bytes expected = e2e::ReadFile(normal / tool.output);
    for (const Console& console : consoles) {
      if (console.error == ENOSPC && !have_full) continue;
      SCOPED_TRACE(tool.name + ", " + console.what);
      e2e::ScratchDir dir;
      WriteInputs(dir);
      e2e::WriteFile(dir / "palette.lmp", Palette(3));
      const auto r = RunWithin(tool.binary, tool.args, dir.path(), kRunLimit, console.prepare);
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_EQ(r.err, Lower(tool.name) + ": write error: " + std::strerror(console.error) + "\n");
      EXPECT_TRUE(e2e::ReadFile(dir / tool.output) == expected) << "the PCX file differs";
      EXPECT_TRUE(e2e::ReadFile(dir / "palette.lmp") == Palette(3)) << "the palette was written to";
    }
  }
  close(broken[1]);
}
#else
TEST(ConverterFrame, ConsoleWriteErrorsEndWithStatus1AndTheFilesIntact) {
  E2E_WINDOWS_LACKS("closed or full standard output and SIGPIPE");
}
#endif

// The console fails at its first write, long before the last image: the run
// still converts that image, and reports the failure once.
#ifndef _WIN32
TEST(ConverterFrame, ConsoleThatFailsEarlyStillGetsEveryFileDone) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full on this machine";
  e2e::ScratchDir dir;
  const Bytes palette = Palette(4);
  e2e::WriteFile(dir / "palette.lmp", palette);
  e2e::MakeDirs(dir / "textures");
  std::vector<Lump> lumps;
  for (int i = 0; i < 5000; ++i) lumps.push_back({"junk" + std::to_string(i), Bytes(8, 0xFF)});
  lumps.push_back({"last", PicLump(3, 2, kImage.pixels)});
  e2e::WriteFile(dir / "many.wad", Wad(lumps));
  const auto r = RunWithin(MIPSNAP_BIN, {"many.wad"}, dir.path(), kRunLimit, [] {
    const int full = open("/dev/full", O_WRONLY);
    dup2(full, STDOUT_FILENO);
    close(full);
  });
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, std::string("mipsnap: write error: ") + std::strerror(ENOSPC) + "\n");
  ExpectPcx(dir / "textures/last.pcx", kImage, palette);
}
#else
TEST(ConverterFrame, ConsoleThatFailsEarlyStillGetsEveryFileDone) {
  E2E_WINDOWS_LACKS("closed or full standard output");
}
#endif

// Inputs that are FIFOs are refused like files that cannot be opened, at
// once: nothing waits for a writer that never comes. texsnap never lists one.
#ifndef _WIN32
TEST(ConverterFrame, FifosAreRefusedWithoutWaiting) {
  struct Case {
    size_t tool;       // index into Tools()
    std::string fifo;  // the input made a FIFO
    std::string out;   // console output after the banner
    int exit_code;
  };
  const std::vector<Tool> tools = Tools();
  const std::string palette_error = "Could not open 'palette.lmp' !";
  const Case cases[] = {
      {0, "palette.lmp", Fatal("PICSNAP", palette_error), 1},
      {1, "palette.lmp", Fatal("MIPSNAP", palette_error), 1},
      {2, "palette.lmp", Fatal("TEXSNAP", palette_error), 1},
      {0, "a.lmp", Fatal("PICSNAP", "Could not open file !\n"), 1},
      {1, "t.wad",
       "Converting all textures from 't.wad' into 'textures/*.pcx':\n" +
           Fatal("MIPSNAP", "Could not open WAD...."),
       1},
      {2, "x.wal", tools[2].progress, 0},
  };
  for (const Case& c : cases) {
    const Tool& tool = tools[c.tool];
    SCOPED_TRACE(tool.name + ", " + c.fifo + " a FIFO");
    e2e::ScratchDir dir;
    WriteInputs(dir);
    e2e::WriteFile(dir / "palette.lmp", Palette(3));
    std::filesystem::remove(dir / c.fifo);
    ASSERT_EQ(mkfifo((dir / c.fifo).c_str(), 0666), 0);
    const auto r = RunWithin(tool.binary, tool.args, dir.path(), kRunLimit);
    EXPECT_EQ(r.out, Banner(tool.name) + c.out);
    EXPECT_EQ(r.exit_code, c.exit_code);
  }
}
#else
TEST(ConverterFrame, FifosAreRefusedWithoutWaiting) { E2E_WINDOWS_LACKS("FIFOs"); }
#endif

// A PCX name taken by a FIFO or a device is a PCX file that cannot be
// created: reported, skipped (status 2), never waited on or written to.
#ifndef _WIN32
TEST(ConverterFrame, PcxNameThatIsAFifoOrADeviceIsNotCreated) {
  const struct {
    const char* what;
    std::function<void(const std::string&)> make;
  } kinds[] = {
      {"a FIFO", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0666), 0); }},
      {"a link to /dev/null",
       [](const std::string& path) { ASSERT_EQ(symlink("/dev/null", path.c_str()), 0); }},
  };
  for (const Tool& tool : Tools()) {
    for (const auto& kind : kinds) {
      SCOPED_TRACE(tool.name + ", " + tool.output + " " + kind.what);
      e2e::ScratchDir dir;
      WriteInputs(dir);
      e2e::WriteFile(dir / "palette.lmp", Palette(3));
      kind.make(dir / tool.output);
      const auto r = RunWithin(tool.binary, tool.args, dir.path(), kRunLimit);
      EXPECT_EQ(r.out, Banner(tool.name) + tool.refused);
      EXPECT_EQ(r.exit_code, 2);
    }
  }
}
#else
TEST(ConverterFrame, PcxNameThatIsAFifoOrADeviceIsNotCreated) {
  E2E_WINDOWS_LACKS("FIFOs and device files");
}
#endif

// The kit's rule: 0 when everything asked was done, 2 when the run finished
// but skipped something it was asked to handle (each skip with its message).
// A WAD2 lump that is no image was never asked for: mipsnap's "skipping !"
// for it keeps 0.
TEST(ConverterFrame, ExitStatusOfAFinishedRun) {
  struct Case {
    const char* what;
    size_t tool;                                         // index into Tools()
    std::function<void(const e2e::ScratchDir&)> change;  // to the good inputs
    std::string says;  // a line of the output that tells the status
    int exit_code;
  };
  const auto put = [](const std::string& name, const Bytes& bytes) {
    return [=](const e2e::ScratchDir& dir) { e2e::WriteFile(dir / name, bytes); };
  };
  const auto no_textures = [](const e2e::ScratchDir& dir) {
    std::filesystem::remove_all(dir / "textures");
  };
  Bytes outside = WalFile(8, 8, Bytes(64, 1));
  outside.resize(100 + 63);
  const std::vector<Tool> tools = Tools();
  const Case cases[] = {
      {"picsnap, the picture written", 0, nullptr, ", picture: width 3, height 2", 0},
      {"picsnap, a directory in the PCX file's place", 0,
       [](const e2e::ScratchDir& dir) { e2e::MakeDirs(dir / "a.pcx"); },
       " !! Could not create PCX file !", 2},
      {"mipsnap, every lump written", 1, nullptr, "   - pic..., picture: width 3, height 2\n", 0},
      {"mipsnap, a lump that is no image", 1,
       put("t.wad", Wad({{"pic", PicLump(3, 2, kImage.pixels)}, {"junk", Bytes(40, 0xFF)}})),
       "   - junk..., skipping !\n", 0},
      {"mipsnap, no textures folder", 1, no_textures, " !! Could not create PCX file !\n", 2},
      {"texsnap, every texture written", 2, nullptr, "width 3, height 2\n", 0},
      {"texsnap, no .wal file", 2,
       [](const e2e::ScratchDir& dir) { std::filesystem::remove(dir / "w.wal"); },
       "Converting all textures into 'textures/*.pcx':\n", 0},
      {"texsnap, a file too short for its header", 2, put("x.wal", Bytes(43, 1)),
       "texture 'textures/x.pcx': file too short for a texture header, skipping !\n", 2},
      {"texsnap, an unsupported size", 2, put("x.wal", WalFile(65536, 1, Bytes(16, 1))),
       "texture 'textures/x.pcx': width 65536, height 1, size not supported, skipping !\n", 2},
      {"texsnap, the image outside the file", 2, put("x.wal", outside),
       "texture 'textures/x.pcx': width 8, height 8, image outside the file, skipping !\n", 2},
      {"texsnap, no textures folder", 2, no_textures, "Could not create PCX file !\n", 2},
  };
  for (const Case& c : cases) {
    const Tool& tool = tools[c.tool];
    e2e::ScratchDir dir;
    WriteInputs(dir);
    e2e::WriteFile(dir / "palette.lmp", Palette(3));
    if (c.change) c.change(dir);
    const auto r = e2e::Run(tool.binary, tool.args, dir.path());
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.what << "\n" << r.out;
    EXPECT_EQ(r.exit_code, c.exit_code) << c.what;
    EXPECT_EQ(r.err, "") << c.what;
  }
}

// Output that is not a terminal is buffered: a thousand progress lines
// cost a handful of writes, at most one per 4 KiB of text or per quarter of
// a second, where flushing each line would cost a thousand. The console is a
// SOCK_SEQPACKET socket, where every write arrives as one record, so the
// writes can be counted.
#ifndef _WIN32
TEST(ConverterFrame, AThousandProgressLinesCostAHandfulOfWrites) {
  constexpr int kCount = 1000;
  struct Case {
    std::string tool, binary;
    std::vector<std::string> args;
    std::function<void(const e2e::ScratchDir&)> make;
    int exit_code;
  };
  const Case cases[] = {
      {"mipsnap",
       MIPSNAP_BIN,
       {"many.wad"},
       [](const e2e::ScratchDir& dir) {
         std::vector<Lump> lumps;
         for (int i = 0; i < kCount; ++i) {
           lumps.push_back({"j" + std::to_string(i), Bytes(8, 0xFF)});
         }
         e2e::WriteFile(dir / "many.wad", Wad(lumps));
       },
       0},
      {"texsnap",
       TEXSNAP_BIN,
       {},
       [](const e2e::ScratchDir& dir) {
         for (int i = 0; i < kCount; ++i) {
           e2e::WriteFile(dir / ("w" + std::to_string(i) + ".wal"), Bytes(4, 1));  // too short
         }
       },
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tool);
    e2e::ScratchDir dir;
    e2e::WriteFile(dir / "palette.lmp", Palette(3));
    e2e::MakeDirs(dir / "textures");
    c.make(dir);
    int console[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, console), 0);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = e2e::Spawn(c.binary, c.args, dir.path(), console[1], -1);
    close(console[1]);
    std::string text;
    int writes = 0;
    std::vector<char> record(1 << 20);
    pollfd wait = {console[0], POLLIN, 0};
    while (poll(&wait, 1, static_cast<int>(kRunLimit.count() * 1000)) == 1) {
      const ssize_t n = recv(console[0], record.data(), record.size(), 0);
      if (n <= 0) break;
      text.append(record.data(), static_cast<size_t>(n));
      ++writes;
    }
    close(console[0]);
    kill(pid, SIGKILL);  // in case it hangs; it has ended by now
    int status = 0;
    waitpid(pid, &status, 0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.exit_code);
    const auto lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    EXPECT_EQ(lines, 3u + kCount) << "banner, blank line, announcement, one line each";
    const auto quarters = elapsed / std::chrono::milliseconds(250);
    EXPECT_LE(writes, 2 + static_cast<long>(text.size() / 4096) + static_cast<long>(quarters))
        << text.size() << " bytes in " << writes << " writes in "
        << std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() << " ms";
  }
}
#else
TEST(ConverterFrame, AThousandProgressLinesCostAHandfulOfWrites) {
  E2E_WINDOWS_LACKS("SOCK_SEQPACKET sockets");
}
#endif

}  // namespace
}  // namespace convtest
