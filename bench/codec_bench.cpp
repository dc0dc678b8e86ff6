// Form codec throughput against memcpy of the same buffer, on random bytes
// (most bytes escaped) and on deflate-like data from a real zip of text.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "net/form_codec.h"

namespace {

using tolvex::Bytes;

constexpr std::size_t kSize = 64u << 20;

const Bytes& RandomBytes() {
  static const Bytes data = [] {
    Bytes b(kSize);
    std::mt19937_64 rng(42);
    for (std::size_t i = 0; i + 8 <= b.size(); i += 8) {
      const auto v = rng();
      std::memcpy(&b[i], &v, 8);
    }
    return b;
  }();
  return data;
}

// Compressed text: what a zip archive of progress data looks like.
const Bytes& ZipLikeBytes() {
  static const Bytes data = [] {
    std::string text;
    std::mt19937 rng(7);
    while (text.size() < kSize * 4) {
      text += "ORD" + std::to_string(rng() % 100000) + ",C001," + std::to_string(rng() % 999) +
              ",2026-12-08,受注,status=" + std::to_string(rng() % 5) + "\r\n";
    }
    Bytes out(compressBound(text.size()));
    uLongf size = out.size();
    compress2(out.data(), &size, reinterpret_cast<const Bytef*>(text.data()), text.size(), 6);
    out.resize(size);
    while (out.size() < kSize)
      out.insert(out.end(), out.begin(), out.begin() + std::min(out.size(), kSize - out.size()));
    out.resize(kSize);
    return out;
  }();
  return data;
}

const Bytes& Source(int which) { return which == 0 ? RandomBytes() : ZipLikeBytes(); }

void BM_Memcpy(benchmark::State& state) {
  const Bytes& src = Source(static_cast<int>(state.range(0)));
  Bytes dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
}

// The baseline for the fresh-buffer runs: page faults of a new buffer the
// size of the input dominate there, and any codec pays them too.
void BM_MemcpyFresh(benchmark::State& state) {
  const Bytes& src = Source(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Bytes dst(src.begin(), src.end());
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
}

void BM_Encode(benchmark::State& state) {
  const Bytes& src = Source(static_cast<int>(state.range(0)));
  Bytes out;
  for (auto _ : state) {
    tolvex::EncodeFormBytes(src, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
  state.counters["expansion"] = static_cast<double>(out.size()) / src.size();
  // The only heap block the encoder holds besides the input: at most 1.0.
  state.counters["capacity/bound"] = static_cast<double>(out.capacity()) / (3 * src.size() + 1);
}

// A new output buffer per call, as callers use it: allocation and first
// touch of the pages included.
void BM_EncodeFresh(benchmark::State& state) {
  const Bytes& src = Source(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Bytes out;
    tolvex::EncodeFormBytes(src, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
}

void BM_Decode(benchmark::State& state) {
  const Bytes& raw = Source(static_cast<int>(state.range(0)));
  Bytes encoded, out;
  tolvex::EncodeFormBytes(raw, encoded);
  for (auto _ : state) {
    tolvex::DecodeFormBytes(encoded, out);
    benchmark::DoNotOptimize(out.data());
  }
  // Counted in decoded (archive) bytes, the figure a caller waits on.
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * raw.size()));
  // The decoder's only heap block besides the input: at most 1.0.
  state.counters["capacity/input"] = static_cast<double>(out.capacity()) / encoded.size();
}

void BM_DecodeFresh(benchmark::State& state) {
  const Bytes& raw = Source(static_cast<int>(state.range(0)));
  Bytes encoded;
  tolvex::EncodeFormBytes(raw, encoded);
  for (auto _ : state) {
    Bytes out;
    tolvex::DecodeFormBytes(encoded, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * raw.size()));
}

BENCHMARK(BM_Memcpy)->ArgName("zip")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyFresh)->ArgName("zip")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Encode)->ArgName("zip")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeFresh)->ArgName("zip")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode)->ArgName("zip")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeFresh)->ArgName("zip")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

// Prints, after the usual table, each codec run's speed as a ratio to the
// memcpy run on the same data and kind of buffer.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type == Run::RT_Aggregate) continue;
      const auto rate = run.counters.find("bytes_per_second");
      if (rate != run.counters.end()) rates_[run.benchmark_name()] = rate->second.value;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nratio to memcpy of the same buffer, same run:\n");
    for (const auto& [name, rate] : rates_) {
      if (name.rfind("BM_Memcpy", 0) == 0) continue;
      // BM_EncodeFresh/zip:1 -> BM_MemcpyFresh/zip:1
      const bool fresh = name.find("Fresh") != std::string::npos;
      const std::string base =
          std::string(fresh ? "BM_MemcpyFresh" : "BM_Memcpy") + name.substr(name.find('/'));
      const auto found = rates_.find(base);
      if (found == rates_.end() || found->second <= 0) continue;
      std::printf("  %-24s %7.1f MB/s  %.2f x memcpy\n", name.c_str(), rate / 1e6,
                  rate / found->second);
    }
  }

 private:
  std::map<std::string, double> rates_;
};

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
