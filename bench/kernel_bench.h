// bench/kernel_bench.h: what the digest kernel benchmarks share: the same
// random input for every kernel, and a console reporter that keeps each
// benchmark's median CPU time so that the run can end with throughput ratios
// against a reference.
#pragma once

#include <openssl/evp.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

// The same pseudo-random bytes on every run.
inline std::vector<std::uint8_t> RandomBytes(std::size_t sizeInBytes) {
  std::vector<std::uint8_t> bytes(sizeInBytes);
  std::mt19937_64 engine(42);
  for (std::size_t i = 0; i + 8 <= sizeInBytes; i += 8) {
    const std::uint64_t word = engine();
    std::memcpy(bytes.data() + i, &word, 8);
  }
  return bytes;
}

// 16 MiB of them, made once: the in-memory input of every kernel benchmark.
inline const std::vector<std::uint8_t>& MemoryInput() {
  static const std::vector<std::uint8_t> bytes = RandomBytes(std::size_t{16} << 20);
  return bytes;
}

// OpenSSL's one-shot digest over the 16 MiB: the reference of the ratios.
inline void OpenSslDigestInMemory(benchmark::State& state, const EVP_MD* algorithm) {
  const std::vector<std::uint8_t>& bytes = MemoryInput();
  for (auto _ : state) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &size, algorithm, nullptr);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

// The 16 MiB cut into `count` messages digested side by side, as the hasher
// does with files under way: `update(digests, starts, share)` feeds them all.
template <typename Digest, typename Update>
void DigestSideBySide(benchmark::State& state, std::size_t count, Update update) {
  const std::vector<std::uint8_t>& bytes = MemoryInput();
  const std::size_t share = bytes.size() / count;
  for (auto _ : state) {
    std::vector<Digest> digests(count);
    std::vector<Digest*> pointers;
    std::vector<const std::uint8_t*> starts;
    for (std::size_t i = 0; i < count; ++i) {
      pointers.push_back(&digests[i]);
      starts.push_back(bytes.data() + i * share);
    }
    update(pointers, starts, share);
    for (Digest& digest : digests) benchmark::DoNotOptimize(digest.Final());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * share * count));
}

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so that a saved log reads as plain text.
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        const std::string& args = run.run_name.args;
        medianCpuTime[run.run_name.function_name + (args.empty() ? "" : "/" + args)] =
            run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Prints "`what` = ratio": the reference's median CPU time over ours, so
  // above 1 means ours is faster. Nothing when either did not run.
  void PrintRatio(const std::string& what, const std::string& ours,
                  const std::string& theirs) const {
    const auto oursTime = medianCpuTime.find(ours);
    const auto theirsTime = medianCpuTime.find(theirs);
    if (oursTime == medianCpuTime.end() || theirsTime == medianCpuTime.end()) return;
    std::printf("%s = %.3f\n", what.c_str(), theirsTime->second / oursTime->second);
  }

 private:
  std::map<std::string, double> medianCpuTime;
};
