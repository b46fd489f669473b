// bench/file_hashing_bench.cc: the module-file hashing stage over a package,
// with MD5 alone and with MD5 and each SHA-2 digest from the same reads, side
// by side in one run. The package is the manifest named by
// BREVICK_BENCH_MANIFEST (bench/hash_bench.sh makes one); BREVICK_BENCH_JOBS
// sets the workers (default: every CPU the process may use). At the end each
// digest's median time is printed as a ratio to MD5 alone.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "app/console_reporter.h"
#include "base/report.h"
#include "base/stage_result.h"
#include "base/utf8.h"
#include "digest/digest_algorithm.h"
#include "manifest/file_hasher.h"
#include "manifest/hashing_step.h"
#include "xml/parser.h"
#include "xml/xmldoc.h"

namespace {

std::string ManifestText() {
  const char* path = std::getenv("BREVICK_BENCH_MANIFEST");
  if (path == nullptr) return std::string();
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string ManifestDirectory() {
  const char* path = std::getenv("BREVICK_BENCH_MANIFEST");
  if (path == nullptr) return ".";
  const std::string text = path;
  const std::size_t slash = text.rfind('/');
  return slash == std::string::npos ? "." : text.substr(0, slash);
}

int Jobs() {
  const char* jobs = std::getenv("BREVICK_BENCH_JOBS");
  return jobs != nullptr ? std::atoi(jobs) : brevick::AvailableCpuCount();
}

std::map<std::string, double> medians;

void BM_HashingStage(benchmark::State& state) {
  const auto digest = static_cast<brevick::DigestAlgorithm>(state.range(0));
  const std::string manifest = ManifestText();
  if (manifest.empty()) {
    state.SkipWithError("set BREVICK_BENCH_MANIFEST to a package manifest");
    return;
  }
  brevick::HashSettings settings{brevick::ToWide(ManifestDirectory()), L"."};
  settings.jobs = Jobs();
  settings.extraDigest = digest;
  for (auto _ : state) {
    state.PauseTiming();
    const auto document = xmldoc::Parser().Parse(manifest.data(), manifest.size());
    state.ResumeTiming();
    const brevick::ConsoleCapture quiet;
    brevick::ConsoleReporter reporter;
    if (brevick::GenerateFileHashes(*document, settings, reporter) != brevick::StageResult::kGoOn)
      state.SkipWithError("a module file could not be hashed");
  }
  state.SetLabel(std::string(brevick::DigestName(digest)));
}
BENCHMARK(BM_HashingStage)
    ->Arg(static_cast<int>(brevick::DigestAlgorithm::kMd2))
    ->Arg(static_cast<int>(brevick::DigestAlgorithm::kSha256))
    ->Arg(static_cast<int>(brevick::DigestAlgorithm::kSha384))
    ->Arg(static_cast<int>(brevick::DigestAlgorithm::kSha512))
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();

// Keeps each run's median to print the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.aggregate_name == "median") medians[run.report_label] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (medians.count("md2") == 0) return 0;
  for (const char* name : {"sha256", "sha384", "sha512"}) {
    if (medians.count(name) != 0)
      std::printf("hashing stage, MD5 + %s / MD5 alone = %.2fx (goal for sha256: at most 1.35x)\n",
                  name, medians[name] / medians["md2"]);
  }
  return 0;
}
