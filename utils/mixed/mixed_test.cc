#include "mixed/mixed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "rle/run_length.h"
#include "rle_reference.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Repeat(uint8_t b, size_t n) { return Bytes(n, b); }

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Encode(const Bytes& in) {
  Bytes out;
  const size_t n = mixed_EncodeRLE(in.data(), in.size(), &out);
  EXPECT_EQ(n, out.size());
  return out;
}

// Each test below runs once on every code path the processor has, so a
// machine with the widest instruction set still tests the narrower ones.
class CodecPath : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { ASSERT_TRUE(rle::UseRunLengthPath(GetParam())); }
  void TearDown() override { rle::UseRunLengthPath(rle::RunLengthPaths().front()); }
};

INSTANTIATE_TEST_SUITE_P(EveryPath, CodecPath, testing::ValuesIn(rle::RunLengthPaths()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           return info.param;
                         });

TEST(CodecPaths, WidestFirstScalarLastAndOnlyWhatRuns) {
  const std::vector<std::string> paths = rle::RunLengthPaths();
  ASSERT_FALSE(paths.empty());
  EXPECT_EQ(paths.back(), "scalar");
  EXPECT_EQ(rle::RunLengthPath(), paths.front());
  EXPECT_FALSE(rle::UseRunLengthPath("no such path"));
  EXPECT_EQ(rle::RunLengthPath(), paths.front());
}

// One row of the byte tables: `input` is the file to encode or the stream
// to decode, `expected` what that gives.
struct ByteCase {
  const char* what;
  Bytes input;
  Bytes expected;
};

TEST_P(CodecPath, EncodeByteExamples) {
  Bytes all_high;
  Bytes all_high_encoded;
  for (int b = 0xC0; b <= 0xFF; ++b) {
    all_high.push_back(static_cast<uint8_t>(b));
    all_high_encoded.push_back(0xC1);
    all_high_encoded.push_back(static_cast<uint8_t>(b));
  }
  const ByteCase cases[] = {
      {"empty", {}, {}},
      {"single literal", {0x41}, {0x41}},
      {"pair", {0x41, 0x41}, {0xC2, 0x41}},
      {"four", {0x41, 0x41, 0x41, 0x41}, {0xC4, 0x41}},
      {"escaped C5", {0xC5}, {0xC1, 0xC5}},
      {"escaped C0", {0xC0}, {0xC1, 0xC0}},
      {"high pair", {0xFF, 0xFF}, {0xC2, 0xFF}},
      {"63 zeros", Repeat(0, 63), {0xFF, 0x00}},
      {"64 zeros", Repeat(0, 64), {0xFF, 0x00, 0x00}},
      {"126 sevens", Repeat(7, 126), {0xFF, 0x07, 0xFF, 0x07}},
      {"127 sevens", Repeat(7, 127), {0xFF, 0x07, 0xFF, 0x07, 0x07}},
      {"130 sevens", Repeat(7, 130), {0xFF, 0x07, 0xFF, 0x07, 0xC4, 0x07}},
      {"no runs", {0x10, 0x20, 0x30}, {0x10, 0x20, 0x30}},
      {"literal BF", {0xBF}, {0xBF}},
      {"worst case", all_high, all_high_encoded},
      {"mixed", Cat({{0x01}, Repeat(0xC8, 3), {0x02, 0xC8}}), {0x01, 0xC3, 0xC8, 0x02, 0xC1, 0xC8}},
  };
  for (const ByteCase& c : cases) {
    EXPECT_EQ(Encode(c.input), c.expected) << c.what;
  }
}

TEST_P(CodecPath, DecodeByteExamples) {
  const ByteCase cases[] = {
      {"zero count consumes its data byte", {0xC0, 0x41}, {}},
      {"literal then run", {0x41, 0xC3, 0x42}, {0x41, 0x42, 0x42, 0x42}},
      {"escaped high byte", {0xC1, 0xFF}, {0xFF}},
      {"dangling count byte ends the walk", {0x41, 0xC5}, {0x41}},
      {"lone count byte", {0xFF}, {}},
      // A whole word for the word-at-a-time scan, its last byte a count byte
      // whose data byte is missing.
      {"dangling count byte ending a word",
       {0x41, 0x42, 0x41, 0x42, 0x41, 0x42, 0x41, 0xC5},
       {0x41, 0x42, 0x41, 0x42, 0x41, 0x42, 0x41}},
  };
  for (const ByteCase& c : cases) {
    Bytes out;
    const int64_t n = mixed_DecodeRLE(c.input.data(), c.input.size(), &out);
    EXPECT_EQ(out, c.expected) << c.what;
    EXPECT_EQ(n, static_cast<int64_t>(c.expected.size())) << c.what;
    EXPECT_EQ(mixed_DecodedRLESize(c.input.data(), c.input.size()),
              static_cast<int64_t>(c.expected.size()))
        << c.what;
  }
}

// Random files of three kinds: runs of random lengths around the 63 limit
// in random alphabets; pictures (runs of one to six bytes from a ramp of
// shades, a quarter of them 0xC0 or more, between flat areas); and long
// stretches of high bytes with and without runs, whose count and data
// bytes alternate across block edges.
Bytes RandomInput(std::mt19937* rng, size_t len) {
  Bytes in;
  const int kind = static_cast<int>((*rng)() % 3);
  const int alphabet = 1 + static_cast<int>((*rng)() % 256);
  const int run_bias = static_cast<int>((*rng)() % 100);
  while (in.size() < len) {
    uint8_t b = static_cast<uint8_t>(255 - (*rng)() % alphabet);
    size_t run = (static_cast<int>((*rng)() % 100) < run_bias) ? 1 + (*rng)() % 200 : 1;
    if (kind == 1) {
      const bool flat = (*rng)() % 8 == 0;
      b = static_cast<uint8_t>(((*rng)() % 16) * 16 + (*rng)() % 4);
      run = flat ? 4 + (*rng)() % 160 : 1 + (*rng)() % 6;
    } else if (kind == 2) {
      b = static_cast<uint8_t>(0xC0 + (*rng)() % (1 + alphabet % 64));
      run = (*rng)() % 4 == 0 ? 1 + (*rng)() % 70 : 1;
    }
    while (run-- > 0 && in.size() < len) in.push_back(b);
  }
  return in;
}

TEST_P(CodecPath, RandomRoundTripsMatchReference) {
  std::mt19937 rng(1308);
  for (int iter = 0; iter < 600; ++iter) {
    const Bytes in = RandomInput(&rng, rng() % 3000);
    const Bytes enc = Encode(in);
    ASSERT_EQ(enc, rle_reference::Encode(in)) << "iteration " << iter;
    ASSERT_LE(enc.size(), 2 * in.size());
    ASSERT_EQ(mixed_DecodedRLESize(enc.data(), enc.size()), static_cast<int64_t>(in.size()));
    Bytes dec;
    mixed_DecodeRLE(enc.data(), enc.size(), &dec);
    ASSERT_EQ(dec, in) << "iteration " << iter;
  }
}

TEST_P(CodecPath, PiecesGiveTheSameBytesAsOneBuffer) {
  std::mt19937 rng(99);
  for (int iter = 0; iter < 300; ++iter) {
    const Bytes in = RandomInput(&rng, rng() % 4000);
    const Bytes whole = rle_reference::Encode(in);
    // Small pieces put every edge case on a piece edge; large ones let the
    // wide kernels carry runs and count bytes across their block edges.
    const size_t max_piece = 1 + rng() % (iter % 2 == 0 ? 70 : 700);

    rle::Encoder encoder;
    Bytes pieces;
    Bytes room;
    for (size_t pos = 0; pos < in.size();) {
      // Empty pieces are allowed; pieces of up to max_piece bytes keep it moving.
      const size_t n = std::min<size_t>(in.size() - pos, rng() % (max_piece + 1));
      room.assign(rle::Encoder::MaxOutput(n), 0);
      const size_t got = encoder.Feed(in.data() + pos, n, room.data());
      pieces.insert(pieces.end(), room.begin(), room.begin() + static_cast<long>(got));
      pos += n;
    }
    room.assign(2, 0);
    pieces.insert(pieces.end(), room.begin(),
                  room.begin() + static_cast<long>(encoder.Finish(room.data())));
    ASSERT_EQ(pieces, whole) << "iteration " << iter;

    rle::Decoder decoder;
    Bytes decoded;
    for (size_t pos = 0; pos < whole.size();) {
      const size_t n = std::min<size_t>(whole.size() - pos, 1 + rng() % max_piece);
      room.assign(rle::Decoder::MaxOutput(n), 0);
      const size_t got = decoder.Feed(whole.data() + pos, n, room.data(), room.size());
      decoded.insert(decoded.end(), room.begin(), room.begin() + static_cast<long>(got));
      pos += n;
    }
    EXPECT_FALSE(decoder.dangling());
    EXPECT_FALSE(decoder.overflowed());
    ASSERT_EQ(decoded, in) << "iteration " << iter;
  }
}

// Arbitrary streams, as a damaged archive may hold: count bytes anywhere,
// 0xC0 counts, long stretches of high bytes, a count byte at the very end.
Bytes RandomStream(std::mt19937* rng, size_t len) {
  const unsigned high_share = (*rng)() % 101;
  Bytes stream(len);
  for (auto& b : stream) {
    b = static_cast<uint8_t>((*rng)() % 100 < high_share ? 0xC0 + (*rng)() % 64 : (*rng)() % 0xC0);
  }
  return stream;
}

TEST_P(CodecPath, ArbitraryStreamsDecodeLikeTheReference) {
  std::mt19937 rng(7);
  for (int iter = 0; iter < 300; ++iter) {
    const Bytes stream = RandomStream(&rng, rng() % 1500);
    const Bytes expected = rle_reference::Decode(stream);
    ASSERT_EQ(mixed_DecodedRLESize(stream.data(), stream.size()),
              static_cast<int64_t>(expected.size()))
        << "iteration " << iter;
    Bytes whole;
    ASSERT_EQ(mixed_DecodeRLE(stream.data(), stream.size(), &whole),
              static_cast<int64_t>(expected.size()));
    ASSERT_EQ(whole, expected) << "iteration " << iter;

    const size_t max_piece = 1 + rng() % (iter % 2 == 0 ? 7 : 300);
    rle::Scanner scanner;
    rle::Decoder decoder;
    Bytes decoded;
    Bytes room;
    for (size_t pos = 0; pos < stream.size();) {
      const size_t n = std::min<size_t>(stream.size() - pos, 1 + rng() % max_piece);
      scanner.Feed(stream.data() + pos, n);
      room.assign(rle::Decoder::MaxOutput(n), 0);
      const size_t got = decoder.Feed(stream.data() + pos, n, room.data(), room.size());
      decoded.insert(decoded.end(), room.begin(), room.begin() + static_cast<long>(got));
      pos += n;
    }
    EXPECT_EQ(scanner.decoded(), static_cast<int64_t>(expected.size())) << "iteration " << iter;
    ASSERT_EQ(decoded, expected) << "iteration " << iter;
    // Dangling exactly when the whole-stream walk stops on a lone count byte.
    size_t i = 0;
    bool dangling = false;
    while (i < stream.size()) {
      if (stream[i] >= 0xC0 && i + 1 == stream.size()) dangling = true;
      i += stream[i] >= 0xC0 ? 2 : 1;
    }
    EXPECT_EQ(scanner.dangling(), dangling) << "iteration " << iter;
    EXPECT_EQ(decoder.dangling(), dangling) << "iteration " << iter;
  }
}

// Blocks of 64 stream bytes that decode to just under, at and just over
// what a byte offset can hold, with zero counts and a count byte whose data
// byte opens the next block. The padding gives the decoders the room that
// their worst case of 63 bytes per count byte asks for, so the wide ones
// take these blocks whole.
TEST_P(CodecPath, BlocksAroundTheShortBlockLimitDecodeLikeTheReference) {
  struct Case {
    const char* what;
    Bytes block;
  };
  Bytes pairs_255, pairs_256, zeros, split;
  for (int k = 0; k < 32; ++k) {
    pairs_255.insert(pairs_255.end(),
                     {static_cast<uint8_t>(k == 0 ? 0xC7 : 0xC8), static_cast<uint8_t>(k)});
    pairs_256.insert(pairs_256.end(), {0xC8, static_cast<uint8_t>(0xF0 + k % 16)});
    zeros.insert(zeros.end(), {static_cast<uint8_t>(k % 2 == 0 ? 0xC0 : 0xFF), 0x33});
  }
  split = Cat({Repeat(0x20, 63), {0xC9}});
  const Case cases[] = {
      {"32 runs, 255 bytes", pairs_255},
      {"32 runs, 256 bytes", pairs_256},
      {"empty runs between long ones", zeros},
      {"a count byte at the block's end", split},
  };
  for (const Case& c : cases) {
    for (size_t lead = 0; lead < 3; ++lead) {
      const Bytes stream = Cat({Repeat(0x01, lead), c.block, c.block, Repeat(0x55, 2500)});
      Bytes out;
      const int64_t n = mixed_DecodeRLE(stream.data(), stream.size(), &out);
      const Bytes expected = rle_reference::Decode(stream);
      EXPECT_EQ(out, expected) << c.what << ", lead " << lead;
      EXPECT_EQ(n, static_cast<int64_t>(expected.size())) << c.what;
      EXPECT_EQ(mixed_DecodedRLESize(stream.data(), stream.size()),
                static_cast<int64_t>(expected.size()))
          << c.what;
    }
  }
}

TEST_P(CodecPath, DecoderNeverWritesBeyondItsRoom) {
  // Streams decoding to more than the room given, as a damaged archive's
  // would: the room is filled with the start of the decoding, a run that
  // crosses its end cut there, and the overflow flagged.
  std::mt19937 rng(11);
  std::vector<Bytes> streams = {
      {0xFF, 0x01, 0xFF, 0x02}, {0x10, 0x11, 0x12, 0x13, 0x14}, {0xC5, 0x07, 0x01}};
  for (int k = 0; k < 40; ++k) streams.push_back(RandomStream(&rng, 200 + rng() % 2000));
  for (const Bytes& stream : streams) {
    const Bytes expected = rle_reference::Decode(stream);
    if (expected.size() < 4) continue;
    const size_t limit = expected.size() <= 8 ? 3 : rng() % (expected.size() - 1);
    Bytes room(limit + 128, 0xEE);
    rle::Decoder decoder;
    const size_t got = decoder.Feed(stream.data(), stream.size(), room.data(), limit);
    EXPECT_EQ(got, limit);
    EXPECT_TRUE(decoder.overflowed());
    ASSERT_TRUE(std::equal(room.begin(), room.begin() + static_cast<long>(got), expected.begin()));
    for (size_t i = limit; i < room.size(); ++i) ASSERT_EQ(room[i], 0xEE) << "byte " << i;
  }
}

}  // namespace
