// bench/parser_bench.cc: Brevick's parser against libxml2's xmlReadMemory on
// the same bytes in the same run, with the heap each tree takes.
//
//   python3 bench/gen_manifest.py build/manifests 100K 10M
//   build/bench/bench/parser_bench --benchmark_repetitions=5
//       build/manifests/manifest-100K.xml build/manifests/manifest-10M.xml
//
// Files may also come from BREVICK_BENCH_MANIFESTS (colon-separated). After
// the timings (thread CPU time of the parse call alone) it prints, per file, the throughput ratio
// (Brevick / libxml2) and each side's heap for the tree: the bytes of live blocks (their usable
// size) when the parse has returned, and the peak during the parse. Last, the ratio again from
// parses that alternate between the two, which a drift in the machine's speed cannot skew.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlmemory.h>
#include <malloc.h>
#include <time.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "xml/document.h"
#include "xml/parser.h"

namespace {

// ---------------------------------------------------------------- heap counting

// Counted only while a measurement is on, so Google Benchmark's own
// allocations stay out of the figures.
bool counting = false;
long long liveBytes = 0;
long long peakBytes = 0;
long long liveBlocks = 0;

void CountIn(void* block) {
  if (!counting || block == nullptr) return;
  liveBytes += static_cast<long long>(malloc_usable_size(block));
  ++liveBlocks;
  if (liveBytes > peakBytes) peakBytes = liveBytes;
}

void CountOut(void* block) {
  if (!counting || block == nullptr) return;
  liveBytes -= static_cast<long long>(malloc_usable_size(block));
  --liveBlocks;
}

void* CountingMalloc(std::size_t size) {
  void* block = std::malloc(size);
  CountIn(block);
  return block;
}

void CountingFree(void* block) {
  CountOut(block);
  std::free(block);
}

void* CountingRealloc(void* block, std::size_t size) {
  CountOut(block);
  void* moved = std::realloc(block, size);
  CountIn(moved != nullptr ? moved : block);
  return moved;
}

char* CountingStrdup(const char* text) {
  const std::size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(CountingMalloc(size));
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

struct HeapFigures {
  long long treeBytes;
  long long treeBlocks;
  long long peakBytes;
};

void StartCounting() {
  liveBytes = 0;
  peakBytes = 0;
  liveBlocks = 0;
  counting = true;
}

// ---------------------------------------------------------------- the two parsers

std::unique_ptr<xmldoc::Document> ParseWithBrevick(const std::string& bytes) {
  return xmldoc::Parser().Parse(bytes.data(), bytes.size());
}

xmlDocPtr ParseWithLibXml2(const std::string& bytes) {
  // Default options, as a plain caller would: blanks kept, the predefined
  // entities and character references replaced by their text.
  return xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "manifest.xml", nullptr, 0);
}

HeapFigures MeasureBrevick(const std::string& bytes) {
  StartCounting();
  std::unique_ptr<xmldoc::Document> document = ParseWithBrevick(bytes);
  const HeapFigures figures{liveBytes, liveBlocks, peakBytes};
  document.reset();
  counting = false;
  return figures;
}

HeapFigures MeasureLibXml2(const std::string& bytes) {
  StartCounting();
  xmlDocPtr document = ParseWithLibXml2(bytes);
  const HeapFigures figures{liveBytes, liveBlocks, peakBytes};
  xmlFreeDoc(document);
  counting = false;
  return figures;
}

// ---------------------------------------------------------------- benchmarks

// Between two parses the heap is put in order outside the timing: without it
// the next parse would pay for merging the million blocks the last tree
// freed (glibc does it at the first larger request), an artefact of the loop
// that hits both parsers. A request of 64 KiB makes glibc merge them; the
// memory stays mapped (see main), so the parses measure the parsers rather
// than the kernel's page faults.
void ReleaseFreedMemory() {
  void* block = std::malloc(64 * 1024);
  benchmark::DoNotOptimize(block);  // the pair must not be optimised away
  std::free(block);
}

// The machine is shared: the time this thread spent on a core is steadier
// than the wall clock, which counts the other jobs' turns too.
double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Manifest {
  std::string label;
  std::string bytes;
};

std::vector<Manifest>& Manifests() {
  static std::vector<Manifest> manifests;
  return manifests;
}

void BM_BrevickParse(benchmark::State& state, const Manifest* manifest) {
  for (auto _ : state) {
    const double start = ThreadSeconds();
    std::unique_ptr<xmldoc::Document> document = ParseWithBrevick(manifest->bytes);
    const double stop = ThreadSeconds();
    benchmark::DoNotOptimize(document.get());
    document.reset();  // freeing the tree is not part of the parse
    ReleaseFreedMemory();
    state.SetIterationTime(stop - start);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(manifest->bytes.size()));
}

void BM_LibXml2Parse(benchmark::State& state, const Manifest* manifest) {
  for (auto _ : state) {
    const double start = ThreadSeconds();
    xmlDocPtr document = ParseWithLibXml2(manifest->bytes);
    const double stop = ThreadSeconds();
    if (document == nullptr) {
      state.SkipWithError("libxml2 refused the manifest");
      break;
    }
    benchmark::DoNotOptimize(document);
    xmlFreeDoc(document);
    ReleaseFreedMemory();
    state.SetIterationTime(stop - start);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(manifest->bytes.size()));
}

// Keeps the seconds per iteration of every run, to set the two parsers side
// by side once all have run. With --benchmark_repetitions the fastest
// repetition counts: on a shared machine the others carry the neighbours' load.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.iterations > 0 && !run.error_occurred && run.run_type == Run::RT_Iteration) {
        const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
        const auto [kept, added] = secondsPerIteration.emplace(run.benchmark_name(), seconds);
        if (!added && seconds < kept->second) kept->second = seconds;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  std::map<std::string, double> secondsPerIteration;
};

bool LoadManifest(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "parser_bench: cannot read %s\n", path.c_str());
    return false;
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t slash = path.find_last_of('/');
  Manifests().push_back(
      {path.substr(slash == std::string::npos ? 0 : slash + 1), std::move(bytes)});
  return true;
}

// The machine's speed drifts in phases of tens of seconds on a shared host,
// so a parser timed in its own block of runs can land in a slower phase than
// the other. Here the two alternate parse by parse, and the fastest of each
// is kept: both see the same phases.
struct Interleaved {
  double brevickSeconds;
  double libxml2Seconds;
};

Interleaved MeasureInterleaved(const std::string& bytes, int pairs) {
  Interleaved best{1e30, 1e30};
  for (int i = 0; i < pairs; ++i) {
    double start = ThreadSeconds();
    std::unique_ptr<xmldoc::Document> document = ParseWithBrevick(bytes);
    double stop = ThreadSeconds();
    document.reset();
    ReleaseFreedMemory();
    if (stop - start < best.brevickSeconds) best.brevickSeconds = stop - start;
    start = ThreadSeconds();
    xmlDocPtr theirs = ParseWithLibXml2(bytes);
    stop = ThreadSeconds();
    xmlFreeDoc(theirs);
    ReleaseFreedMemory();
    if (stop - start < best.libxml2Seconds) best.libxml2Seconds = stop - start;
  }
  return best;
}

double Mib(long long bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

}  // namespace

// Brevick's nodes come from operator new: count them there.
void* operator new(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  CountIn(block);
  return block;
}
void operator delete(void* block) noexcept { CountingFree(block); }
void operator delete(void* block, std::size_t) noexcept { CountingFree(block); }
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete[](void* block) noexcept { CountingFree(block); }
void operator delete[](void* block, std::size_t) noexcept { CountingFree(block); }

int main(int argc, char** argv) {
  // Freed memory stays with the process from one parse to the next.
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  // libxml2's allocations go through the same counters.
  xmlMemSetup(CountingFree, CountingMalloc, CountingRealloc, CountingStrdup);
  xmlGcMemSetup(CountingFree, CountingMalloc, CountingMalloc, CountingRealloc, CountingStrdup);
  xmlInitParser();

  benchmark::Initialize(&argc, argv);
  std::vector<std::string> paths(argv + 1, argv + argc);
  if (const char* fromEnvironment = std::getenv("BREVICK_BENCH_MANIFESTS")) {
    std::stringstream list(fromEnvironment);
    for (std::string path; std::getline(list, path, ':');) {
      if (!path.empty()) paths.push_back(path);
    }
  }
  if (paths.empty()) {
    std::fprintf(stderr,
                 "usage: parser_bench [benchmark options] MANIFEST...\n"
                 "  (or BREVICK_BENCH_MANIFESTS=a.xml:b.xml); make some with\n"
                 "  python3 bench/gen_manifest.py build/manifests 100K 10M\n");
    return 2;
  }
  Manifests().reserve(paths.size());
  for (const std::string& path : paths) {
    if (!LoadManifest(path)) return 1;
  }

  for (const Manifest& manifest : Manifests()) {
    benchmark::RegisterBenchmark(("BrevickParse/" + manifest.label).c_str(), BM_BrevickParse,
                                 &manifest)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("LibXml2Parse/" + manifest.label).c_str(), BM_LibXml2Parse,
                                 &manifest)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\n%-28s %10s %10s %9s | %12s %12s %12s | %12s %12s %12s\n", "manifest", "Brevick",
              "libxml2", "ratio", "Brevick tree", "blocks", "peak", "libxml2 tree", "blocks",
              "peak");
  std::printf("%-28s %10s %10s %9s | %12s %12s %12s | %12s %12s %12s\n", "", "MB/s", "MB/s",
              "B/libxml2", "MiB", "", "MiB", "MiB", "", "MiB");
  for (const Manifest& manifest : Manifests()) {
    const auto& times = reporter.secondsPerIteration;
    const auto brevick = times.find("BrevickParse/" + manifest.label + "/manual_time");
    const auto libxml2 = times.find("LibXml2Parse/" + manifest.label + "/manual_time");
    const double megabytes = static_cast<double>(manifest.bytes.size()) / 1e6;
    const double brevickRate = brevick != times.end() ? megabytes / brevick->second : 0;
    const double libxml2Rate = libxml2 != times.end() ? megabytes / libxml2->second : 0;
    const HeapFigures ours = MeasureBrevick(manifest.bytes);
    const HeapFigures theirs = MeasureLibXml2(manifest.bytes);
    std::printf("%-28s %10.1f %10.1f %9.2f | %12.2f %12lld %12.2f | %12.2f %12lld %12.2f\n",
                manifest.label.c_str(), brevickRate, libxml2Rate,
                libxml2Rate > 0 ? brevickRate / libxml2Rate : 0.0, Mib(ours.treeBytes),
                ours.treeBlocks, Mib(ours.peakBytes), Mib(theirs.treeBytes), theirs.treeBlocks,
                Mib(theirs.peakBytes));
  }
  std::printf("\n%-28s %10s %10s %9s   (parses alternating, fastest of each)\n", "interleaved",
              "Brevick", "libxml2", "ratio");
  for (const Manifest& manifest : Manifests()) {
    const double megabytes = static_cast<double>(manifest.bytes.size()) / 1e6;
    const int pairs = manifest.bytes.size() > 50'000'000  ? 5
                      : manifest.bytes.size() > 1'000'000 ? 15
                                                          : 200;
    const Interleaved best = MeasureInterleaved(manifest.bytes, pairs);
    std::printf("%-28s %10.1f %10.1f %9.2f\n", manifest.label.c_str(),
                megabytes / best.brevickSeconds, megabytes / best.libxml2Seconds,
                best.libxml2Seconds / best.brevickSeconds);
  }
  xmlCleanupParser();
  return 0;
}
