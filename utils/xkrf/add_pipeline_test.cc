#include "xkrf/add_pipeline.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <new>
#include <random>
#include <stdexcept>

#include "failing_allocation.h"
#include "mixed/mixed.h"
#include "xkrf/xkrf.h"

namespace xkrf {
namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// A tiny read size, so files span many pieces and batches turn over often.
constexpr size_t kSmallChunk = 64;

std::string Numbered(char letter, int i) {
  std::string name(1, letter);
  name += std::to_string(i);
  return name;
}

class Scratch {
 public:
  Scratch() {
    std::string tmpl = (fs::temp_directory_path() / "pipelineXXXXXX").string();
    EXPECT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  ~Scratch() { fs::remove_all(dir_); }
  std::string Write(const std::string& name, const Bytes& content) const {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
    return p.string();
  }
  fs::path dir() const { return dir_; }

 private:
  fs::path dir_;
};

struct FileCase {
  const char* what;
  Bytes content;
};

Bytes HighSaw(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(0xC0 + i % 64);
  return b;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng() % 3 == 0 ? rng() : 7);
  return b;
}

// What the writer makes of one file's pieces: the encoded form when the
// pieces settle on it, else the bytes stored as they are.
struct Outcome {
  bool encoded = false;
  Bytes stored;
  size_t pieces = 0;
};

Outcome Consume(AddPipeline* pipeline, size_t index, int64_t size) {
  Outcome out;
  Bytes encoded;
  int64_t read = 0;
  bool settled = false;
  for (;;) {
    const Piece p = pipeline->Next();
    ++out.pieces;
    EXPECT_EQ(p.file, index);
    EXPECT_NE(p.kind, Piece::kOpenFailed);
    EXPECT_NE(p.kind, Piece::kReadFailed);
    EXPECT_LE(p.raw_size, kSmallChunk);
    if (p.kind == Piece::kRaw) {
      EXPECT_LE(p.size, kSmallChunk);
      out.stored.insert(out.stored.end(), p.data, p.data + p.size);
    } else {
      EXPECT_FALSE(settled) << "encoded pieces after the outcome was settled";
      encoded.insert(encoded.end(), p.data, p.data + p.size);
      read += static_cast<int64_t>(p.raw_size);
      if (p.last) {
        EXPECT_EQ(p.kind, Piece::kFinish);
        EXPECT_LT(encoded.size(), static_cast<size_t>(read));
        out.encoded = true;
        out.stored = encoded;
      } else if (static_cast<int64_t>(encoded.size()) >= size || p.kind == Piece::kFinish) {
        // Settled: the raw pieces follow, the file read again.
        settled = true;
      }
    }
    if (p.last) return out;
  }
}

TEST(AddPipeline, PiecesGiveEachFileEncodedOnlyWhenShorterElseAsItIs) {
  const FileCase cases[] = {
      {"one byte", {0x41}},
      {"two equal bytes, not shorter", {0x41, 0x41}},
      {"a run shorter than a piece", Bytes(40, 0x09)},
      {"a run of exactly one piece", Bytes(kSmallChunk, 0x09)},
      {"runs over many pieces", Bytes(1000, 0x00)},
      {"high bytes in one piece, twice as long encoded", HighSaw(kSmallChunk)},
      {"high bytes over pieces, settled early", HighSaw(5 * kSmallChunk + 3)},
      // The first piece's 63 escaped bytes give 126, the file's length,
      // while a second piece is still to come.
      {"settled by the first piece exactly", Cat(HighSaw(63), Bytes(63, 0x05))},
      {"noise that encodes shorter", Noise(3000, 1)},
      {"noise of one piece", Noise(kSmallChunk - 1, 2)},
  };
  for (const bool rle : {true, false}) {
    Scratch scratch;
    std::vector<PipelineFile> files;
    for (size_t i = 0; i < std::size(cases); ++i) {
      files.push_back({scratch.Write(Numbered('f', static_cast<int>(i)), cases[i].content),
                       static_cast<int64_t>(cases[i].content.size())});
    }
    AddPipeline pipeline(files, rle, kSmallChunk);
    for (size_t i = 0; i < std::size(cases); ++i) {
      const FileCase& c = cases[i];
      const Outcome got = Consume(&pipeline, i, static_cast<int64_t>(c.content.size()));
      Bytes encoding;
      mixed_EncodeRLE(c.content.data(), c.content.size(), &encoding);
      const bool shorter = rle && encoding.size() < c.content.size();
      EXPECT_EQ(got.encoded, shorter) << c.what;
      EXPECT_EQ(got.stored, shorter ? encoding : c.content) << c.what << (rle ? ", RLE" : ", none");
    }
  }
}

// Asking past the last piece is an error the caller sees, never a wait for
// a reader that has ended.
TEST(AddPipeline, FailuresEndTheFileAndTheReader) {
  Scratch scratch;
  const std::string good = scratch.Write("good", Bytes(10, 1));
  const std::string empty = scratch.Write("empty", {});
  const std::vector<PipelineFile> files = {
      {good, 10},
      {(scratch.dir() / "missing").string(), 5},
      {good, 10},
  };
  AddPipeline pipeline(files, true, kSmallChunk);
  EXPECT_TRUE(Consume(&pipeline, 0, 10).encoded);
  const Piece failed = pipeline.Next();
  EXPECT_EQ(failed.kind, Piece::kOpenFailed);
  EXPECT_EQ(failed.file, 1u);
  EXPECT_TRUE(failed.last);
  EXPECT_THROW(pipeline.Next(), std::logic_error);

  // A file found empty when it is read, though listed with bytes.
  AddPipeline shrunk({{empty, 4}}, false, kSmallChunk);
  const Piece nothing = shrunk.Next();
  EXPECT_EQ(nothing.kind, Piece::kReadFailed);
  EXPECT_TRUE(nothing.last);
  EXPECT_THROW(shrunk.Next(), std::logic_error);

  AddPipeline none({}, true, kSmallChunk);
  EXPECT_THROW(none.Next(), std::logic_error);
}

// Memory that runs out on the reader's thread ends the run on the caller's,
// as the same std::bad_alloc, after the pieces made before it.
TEST(AddPipeline, ReaderOutOfMemoryReachesTheCaller) {
  Scratch scratch;
  std::vector<PipelineFile> files;
  for (int i = 0; i < 20; ++i)
    files.push_back({scratch.Write(Numbered('n', i), Noise(700, static_cast<uint32_t>(i))), 700});
  failing_allocation::FailOtherThreads();
  {
    AddPipeline pipeline(files, true, kSmallChunk);
    EXPECT_THROW(for (;;) pipeline.Next(), std::bad_alloc);
  }
  EXPECT_TRUE(failing_allocation::Fired());
  failing_allocation::Reset();
}

TEST(AddPipeline, StopsCleanlyWhenTheWriterGivesUpEarly) {
  Scratch scratch;
  std::vector<PipelineFile> files;
  for (int i = 0; i < 50; ++i)
    files.push_back({scratch.Write(Numbered('n', i), Noise(700, static_cast<uint32_t>(i))), 700});
  AddPipeline pipeline(files, true, kSmallChunk);
  EXPECT_EQ(pipeline.Next().file, 0u);
  // The destructor must stop a reader that waits for room.
}

// Extraction writes files on a second thread while this one reads and
// decodes: every file must come out whole, in its folder, whatever the
// order in which the two threads meet (the ThreadSanitizer build runs this).
TEST(Extraction, BothThreadsWriteEveryFileWhole) {
  Scratch scratch;
  const fs::path old_cwd = fs::current_path();
  fs::current_path(scratch.dir());
  for (const char* folder : {"in", "in/a", "in/a/b", "in/c"}) fs::create_directory(folder);
  std::vector<std::pair<std::string, Bytes>> files;
  for (int i = 0; i < 120; ++i) {
    const char* folder = i % 3 == 0 ? "in/a/" : i % 3 == 1 ? "in/a/b/" : "in/c/";
    const size_t n = static_cast<size_t>(1 + i * 97 % 5000);
    files.emplace_back(folder + Numbered('f', i) + ".dat",
                       i % 2 ? Noise(n, static_cast<uint32_t>(i)) : HighSaw(n));
    scratch.Write(files.back().first, files.back().second);
  }
  std::FILE* console = std::fopen("/dev/null", "w");
  ASSERT_NE(console, nullptr);
  const char* add[] = {"xkrf", "t", "in/*.*", "-subs"};
  EXPECT_EQ(RunXkrf(4, add, console), 0);
  fs::rename("in", "before");
  const char* ext[] = {"xkrf", "t", "*.*", "-subs", "-ext"};
  EXPECT_EQ(RunXkrf(5, ext, console), 0);
  std::fclose(console);
  for (const auto& [name, content] : files) {
    std::ifstream in(name, std::ios::binary);
    const Bytes got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, content) << name;
  }
  fs::current_path(old_cwd);
}

}  // namespace
}  // namespace xkrf
