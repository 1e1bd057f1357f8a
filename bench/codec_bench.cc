// Throughput of the mixed RLE codec on the three kinds of large files the
// archive tool meets (very runny, random, image-like), beside a plain
// byte-at-a-time encoder, decoder and size scan of the same scheme and
// memcpy. Every benchmark counts the raw (decoded) bytes, so the MB/s figures
// compare directly. Every benchmark writes into a buffer allocated
// beforehand, the way the tools use the codec on their fixed-size pieces.
// Before timing, each mixed_ benchmark checks that its output is byte for
// byte the reference's.
//
// The codec's benchmarks run on every code path the processor has, each
// forced in turn, named BM_<op>Mixed/<kind>/<path>, so that one run shows
// every path's figures. `krf_codec_bench --paths` prints the paths, the one
// the tools choose first.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/corpus_data.h"
#include "mixed/mixed.h"
#include "rle/run_length.h"

namespace {

constexpr size_t kDataSize = size_t{8} << 20;
constexpr uint8_t kCountBase = 0xC0;
constexpr unsigned kMaxRun = 63;

// The reference stays byte at a time as written: the optimiser may not turn
// its loops into memset or vector code, or the baseline would depend on the
// compiler's mood rather than on the scheme.
#define BYTE_AT_A_TIME \
  __attribute__((optimize("no-tree-vectorize", "no-tree-loop-distribute-patterns")))

// The scheme one byte at a time: compare, count, emit.
BYTE_AT_A_TIME size_t ReferenceEncode(const uint8_t* raw, size_t len, uint8_t* out) {
  size_t size = 0;
  for (size_t pos = 0; pos < len; ++pos) {
    const uint8_t data = raw[pos];
    unsigned run = 1;
    while (pos + 1 < len && raw[pos + 1] == data && run < kMaxRun) {
      ++run;
      ++pos;
    }
    if (data >= kCountBase || run > 1) out[size++] = static_cast<uint8_t>(kCountBase | run);
    out[size++] = data;
  }
  return size;
}

// REQUIRES: `out` holds the decoded length; a trailing count byte is dropped.
BYTE_AT_A_TIME size_t ReferenceDecode(const uint8_t* in, size_t len, uint8_t* out) {
  size_t size = 0;
  size_t pos = 0;
  while (pos < len) {
    const uint8_t unit = in[pos++];
    if (unit < kCountBase) {
      out[size++] = unit;
      continue;
    }
    if (pos >= len) break;
    const uint8_t data = in[pos++];
    for (unsigned n = unit - kCountBase; n > 0; --n) out[size++] = data;
  }
  return size;
}

struct Sample {
  std::vector<uint8_t> raw;
  std::vector<uint8_t> encoded;  // the reference encoder's output
};

const Sample& SampleOf(bench::DataKind kind) {
  static std::map<bench::DataKind, Sample> samples;
  Sample& s = samples[kind];
  if (s.raw.empty()) {
    bench::Rng rng(2000 + static_cast<uint64_t>(kind));
    s.raw.resize(kDataSize);
    bench::Fill(kind, rng, s.raw.data(), s.raw.size());
    s.encoded.resize(2 * kDataSize);
    s.encoded.resize(ReferenceEncode(s.raw.data(), s.raw.size(), s.encoded.data()));
  }
  return s;
}

// Runs `step` for as long as the framework asks, then reports the raw bytes
// handled and the sample's RLE ratio.
template <typename Step>
void Measure(benchmark::State& state, const Sample& s, Step step) {
  for (auto _ : state) {
    step();
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(s.raw.size()));
  state.counters["ratio"] =
      static_cast<double>(s.encoded.size()) / static_cast<double>(s.raw.size());
}

// The same walk as the reference decoder, counting instead of writing.
BYTE_AT_A_TIME size_t ReferenceScan(const uint8_t* in, size_t len) {
  size_t size = 0;
  size_t pos = 0;
  while (pos < len) {
    const uint8_t unit = in[pos++];
    if (unit < kCountBase) {
      ++size;
      continue;
    }
    if (pos++ >= len) break;
    size += unit - kCountBase;
  }
  return size;
}

void BM_EncodeMixed(benchmark::State& state, bench::DataKind kind, const std::string& path) {
  rle::UseRunLengthPath(path);
  const Sample& s = SampleOf(kind);
  std::vector<uint8_t> out(2 * s.raw.size());
  const size_t n = mixed_EncodeRLE(s.raw.data(), s.raw.size(), out.data());
  if (n != s.encoded.size() || !std::equal(s.encoded.begin(), s.encoded.end(), out.begin())) {
    state.SkipWithError("mixed_EncodeRLE differs from the reference encoder");
    return;
  }
  Measure(state, s, [&] {
    benchmark::DoNotOptimize(mixed_EncodeRLE(s.raw.data(), s.raw.size(), out.data()));
  });
}

void BM_EncodeReference(benchmark::State& state, bench::DataKind kind) {
  const Sample& s = SampleOf(kind);
  std::vector<uint8_t> out(2 * s.raw.size());
  Measure(state, s, [&] {
    benchmark::DoNotOptimize(ReferenceEncode(s.raw.data(), s.raw.size(), out.data()));
  });
}

void BM_DecodeMixed(benchmark::State& state, bench::DataKind kind, const std::string& path) {
  rle::UseRunLengthPath(path);
  const Sample& s = SampleOf(kind);
  std::vector<uint8_t> out(s.raw.size());
  const int64_t n = mixed_DecodeRLE(s.encoded.data(), s.encoded.size(), out.data(), out.size());
  if (n != static_cast<int64_t>(s.raw.size()) || out != s.raw) {
    state.SkipWithError("mixed_DecodeRLE does not give back the input");
    return;
  }
  Measure(state, s, [&] {
    benchmark::DoNotOptimize(
        mixed_DecodeRLE(s.encoded.data(), s.encoded.size(), out.data(), out.size()));
  });
}

void BM_ScanMixed(benchmark::State& state, bench::DataKind kind, const std::string& path) {
  rle::UseRunLengthPath(path);
  const Sample& s = SampleOf(kind);
  if (mixed_DecodedRLESize(s.encoded.data(), s.encoded.size()) !=
      static_cast<int64_t>(s.raw.size())) {
    state.SkipWithError("mixed_DecodedRLESize differs from the input's length");
    return;
  }
  Measure(state, s, [&] {
    benchmark::DoNotOptimize(mixed_DecodedRLESize(s.encoded.data(), s.encoded.size()));
  });
}

void BM_ScanReference(benchmark::State& state, bench::DataKind kind) {
  const Sample& s = SampleOf(kind);
  Measure(state, s,
          [&] { benchmark::DoNotOptimize(ReferenceScan(s.encoded.data(), s.encoded.size())); });
}

void BM_DecodeReference(benchmark::State& state, bench::DataKind kind) {
  const Sample& s = SampleOf(kind);
  std::vector<uint8_t> out(s.raw.size());
  Measure(state, s, [&] {
    benchmark::DoNotOptimize(ReferenceDecode(s.encoded.data(), s.encoded.size(), out.data()));
  });
}

void BM_Memcpy(benchmark::State& state, bench::DataKind kind) {
  const Sample& s = SampleOf(kind);
  std::vector<uint8_t> out(s.raw.size());
  Measure(state, s, [&] { std::memcpy(out.data(), s.raw.data(), s.raw.size()); });
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> paths = rle::RunLengthPaths();
  if (argc == 2 && std::string(argv[1]) == "--paths") {
    for (const std::string& path : paths) std::printf("%s\n", path.c_str());
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  for (const bench::DataKind kind :
       {bench::DataKind::kRunny, bench::DataKind::kRandom, bench::DataKind::kImage}) {
    const std::string name = bench::KindName(kind);
    for (const std::string& path : paths) {
      const std::string suffix = "/" + name + "/" + path;
      benchmark::RegisterBenchmark(("BM_EncodeMixed" + suffix).c_str(), BM_EncodeMixed, kind, path);
      benchmark::RegisterBenchmark(("BM_DecodeMixed" + suffix).c_str(), BM_DecodeMixed, kind, path);
      benchmark::RegisterBenchmark(("BM_ScanMixed" + suffix).c_str(), BM_ScanMixed, kind, path);
    }
    benchmark::RegisterBenchmark(("BM_EncodeReference/" + name).c_str(), BM_EncodeReference, kind);
    benchmark::RegisterBenchmark(("BM_DecodeReference/" + name).c_str(), BM_DecodeReference, kind);
    benchmark::RegisterBenchmark(("BM_ScanReference/" + name).c_str(), BM_ScanReference, kind);
    benchmark::RegisterBenchmark(("BM_Memcpy/" + name).c_str(), BM_Memcpy, kind);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
