// bench/sha256_bench.cc: Brevick's SHA-256 against OpenSSL's, in memory.
//
// The same 16 MiB digested by OpenSSL's EVP SHA-256 as one message and by
// Brevick's SHA-extension kernel with one, two and four messages interleaved
// (the 16 MiB split evenly between them), as the file hashing digests the
// files it has under way. At the end the median times are turned into
// throughput ratios (Brevick / OpenSSL; above 1.0 means Brevick is faster).
#include <openssl/evp.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/kernel_bench.h"
#include "digest/sha256_lanes.h"

namespace {

void BM_OpenSslMemorySha256(benchmark::State& state) { OpenSslDigestInMemory(state, EVP_sha256()); }

void BM_BrevickMemorySha256Streams(benchmark::State& state) {
  if (!brevick::CpuHasShaNi()) {
    state.SkipWithError("this CPU has no SHA extensions");
    return;
  }
  const int streams = static_cast<int>(state.range(0));
  DigestSideBySide<brevick::Sha256>(
      state, static_cast<std::size_t>(streams), [streams](auto& digests, auto& starts, auto share) {
        brevick::Sha256::UpdateStreams(digests, starts, share, streams);
      });
}

BENCHMARK(BM_OpenSslMemorySha256)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_BrevickMemorySha256Streams)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(brevick::kSha256WideLanes)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* streams : {"1", "2", "4", "16"}) {
    reporter.PrintRatio(std::string("16 MiB in memory, ") + streams +
                            " interleaved: Brevick SHA-256 throughput / OpenSSL EVP SHA-256 "
                            "throughput",
                        std::string("BM_BrevickMemorySha256Streams/") + streams,
                        "BM_OpenSslMemorySha256");
  }
  benchmark::Shutdown();
  return 0;
}
