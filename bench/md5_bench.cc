// bench/md5_bench.cc: Brevick's MD5 against OpenSSL's, side by side in one run.
//
// Both hash the same 256 MiB file, held in the page cache, through the same
// 256 KiB reads (the hashing stage's block), so the ratio compares the digest
// code and nothing else.
// Then the same 16 MiB in memory, without the reads, digested by OpenSSL and
// by each of Brevick's kernels: one message alone (1 lane), two side by side
// (2 lanes) and eight at once in AVX2 registers (8 lanes), the 16 MiB split
// evenly between the messages. At the end the median times are turned into
// throughput ratios (Brevick / OpenSSL; above 1.0 means Brevick is faster).
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bench/kernel_bench.h"
#include "digest/md5.h"
#include "manifest/file_hasher.h"

namespace {

constexpr std::size_t kFileSizeInBytes = std::size_t{256} << 20;
const char kFilePath[] = "/tmp/brevick-md5-bench-256MiB.bin";

// Made once and kept between runs; rewritten when its size is wrong.
void EnsureBenchFile() {
  struct stat status;
  if (stat(kFilePath, &status) == 0 && static_cast<std::size_t>(status.st_size) == kFileSizeInBytes)
    return;
  const std::vector<std::uint8_t> chunk = RandomBytes(std::size_t{1} << 20);
  std::FILE* file = std::fopen(kFilePath, "wb");
  if (file == nullptr) std::abort();
  // One MiB written over and over: MD5 takes as long whatever the bytes are.
  for (std::size_t written = 0; written < kFileSizeInBytes; written += chunk.size()) {
    if (std::fwrite(chunk.data(), 1, chunk.size(), file) != chunk.size()) std::abort();
  }
  std::fclose(file);
}

struct EvpMdCtxFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

void BM_BrevickFileMd5(benchmark::State& state) {
  std::vector<std::uint8_t> block(brevick::kHashReadBlockSizeInBytes);
  for (auto _ : state) {
    const brevick::FileDigests digests =
        brevick::HashFile(kFilePath, brevick::FileHashOptions{}, block);
    if (digests.outcome != brevick::FileHashOutcome::kHashed) {
      state.SkipWithError("cannot hash the file");
    }
    benchmark::DoNotOptimize(digests.md5);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSizeInBytes));
}

// The same reading loop as the file hashing, with OpenSSL's EVP MD5 in place.
void BM_OpenSslFileMd5(benchmark::State& state) {
  const std::unique_ptr<EVP_MD_CTX, EvpMdCtxFree> context(EVP_MD_CTX_new());
  std::vector<std::uint8_t> block(brevick::kHashReadBlockSizeInBytes);
  for (auto _ : state) {
    const int fd = open(kFilePath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) state.SkipWithError("cannot open the file");
    EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr);
    ssize_t got;
    while ((got = read(fd, block.data(), block.size())) > 0) {
      EVP_DigestUpdate(context.get(), block.data(), static_cast<std::size_t>(got));
    }
    close(fd);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(context.get(), digest, &size);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSizeInBytes));
}

void BM_BrevickMemoryMd5(benchmark::State& state) {
  const std::vector<std::uint8_t>& bytes = MemoryInput();
  for (auto _ : state) {
    brevick::Md5Digest digest = brevick::Md5::Of(bytes.data(), bytes.size());
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_OpenSslMemoryMd5(benchmark::State& state) { OpenSslDigestInMemory(state, EVP_md5()); }

// The same 16 MiB as `lanes` messages digested side by side by the kernel
// with that many lanes, as the file hashing does with files under way.
void BM_BrevickMemoryMd5Lanes(benchmark::State& state) {
  const auto kernel = static_cast<brevick::Md5Kernel>(state.range(0));
  if (brevick::LaneCount(kernel) > brevick::LaneCount(brevick::ChosenMd5Kernel())) {
    state.SkipWithError("this CPU has no such kernel");
    return;
  }
  DigestSideBySide<brevick::Md5>(state, static_cast<std::size_t>(brevick::LaneCount(kernel)),
                                 [kernel](auto& digests, auto& starts, auto share) {
                                   brevick::Md5::UpdateLanes(kernel, digests, starts, share);
                                 });
}

BENCHMARK(BM_BrevickFileMd5)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_OpenSslFileMd5)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_BrevickMemoryMd5)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_OpenSslMemoryMd5)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_BrevickMemoryMd5Lanes)
    ->Arg(1)
    ->Arg(2)
    ->Arg(8)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  EnsureBenchFile();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatio(
      "256 MiB file, 256 KiB reads: Brevick MD5 throughput / OpenSSL EVP MD5 throughput",
      "BM_BrevickFileMd5", "BM_OpenSslFileMd5");
  reporter.PrintRatio("16 MiB in memory: Brevick MD5 throughput / OpenSSL EVP MD5 throughput",
                      "BM_BrevickMemoryMd5", "BM_OpenSslMemoryMd5");
  for (const char* lanes : {"1", "2", "8", "16"}) {
    const std::string what = std::string("16 MiB in memory, ") + lanes +
                             "-lane kernel: Brevick MD5 throughput / OpenSSL EVP MD5 throughput";
    reporter.PrintRatio(what, std::string("BM_BrevickMemoryMd5Lanes/") + lanes,
                        "BM_OpenSslMemoryMd5");
  }
  benchmark::Shutdown();
  return 0;
}
