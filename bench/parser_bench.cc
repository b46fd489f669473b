// bench/parser_bench.cc: Brevick's parser against libxml2's xmlReadMemory on
// the same bytes in the same run, with the heap each tree takes.
//
//   build/bench/bench/parser_bench [benchmark options] [MANIFEST...]
//
// Without files (and without BREVICK_BENCH_MANIFESTS, colon-separated) it
// parses manifests of 100 KiB, 10 MiB and 100 MiB from build/manifests in
// the source tree, writing any that are missing with bench/gen_manifest.py.
//
// Each iteration parses the manifest once with each parser, from memory into
// a tree, the two in turns (which goes first alternates too), so that the
// load of a shared machine falls on both alike. Only the parse call is timed,
// in thread CPU time; both trees are freed outside the timing. The figure per
// size is the median over the iterations of libxml2's time / Brevick's time,
// which is Brevick's throughput over libxml2's. Then each side's heap for the
// tree: the bytes of the live blocks (their usable size) when the parse has
// returned, and the peak during the parse. The load (uptime) is printed
// before and after.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlmemory.h>
#include <malloc.h>
#include <time.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
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

double TimeBrevick(const std::string& bytes) {
  const double start = ThreadSeconds();
  std::unique_ptr<xmldoc::Document> document = ParseWithBrevick(bytes);
  const double stop = ThreadSeconds();
  benchmark::DoNotOptimize(document.get());
  document.reset();  // outside the timing, as libxml2's below
  ReleaseFreedMemory();
  return stop - start;
}

// Negative when libxml2 refuses the manifest.
double TimeLibXml2(const std::string& bytes) {
  const double start = ThreadSeconds();
  xmlDocPtr document = ParseWithLibXml2(bytes);
  const double stop = ThreadSeconds();
  if (document == nullptr) return -1;
  benchmark::DoNotOptimize(document);
  xmlFreeDoc(document);
  ReleaseFreedMemory();
  return stop - start;
}

struct Manifest {
  std::string label;  // the size as named in the file name, e.g. 100K
  std::string bytes;
  // Per iteration, the seconds each parser took.
  std::vector<double> brevickSeconds;
  std::vector<double> libxml2Seconds;
};

std::vector<Manifest>& Manifests() {
  static std::vector<Manifest> manifests;
  return manifests;
}

void BM_AlternatingParse(benchmark::State& state, Manifest* manifest) {
  // The first parses touch fresh memory: the page faults would count
  // against whichever parser came first.
  TimeBrevick(manifest->bytes);
  if (TimeLibXml2(manifest->bytes) < 0) {
    state.SkipWithError("libxml2 refused the manifest");
    return;
  }
  bool brevickFirst = true;
  for (auto _ : state) {
    double brevick = 0;
    double libxml2 = 0;
    if (brevickFirst) {
      brevick = TimeBrevick(manifest->bytes);
      libxml2 = TimeLibXml2(manifest->bytes);
    } else {
      libxml2 = TimeLibXml2(manifest->bytes);
      brevick = TimeBrevick(manifest->bytes);
    }
    brevickFirst = !brevickFirst;
    manifest->brevickSeconds.push_back(brevick);
    manifest->libxml2Seconds.push_back(libxml2);
    state.SetIterationTime(brevick + libxml2);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 2 *
                          static_cast<std::int64_t>(manifest->bytes.size()));
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

bool LoadManifest(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "parser_bench: cannot read %s\n", path.c_str());
    return false;
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string label = path.substr(path.find_last_of('/') + 1);  // npos + 1 is 0
  if (label.rfind("manifest-", 0) == 0) label.erase(0, std::strlen("manifest-"));
  if (label.size() > 4 && label.compare(label.size() - 4, 4, ".xml") == 0) {
    label.erase(label.size() - 4);
  }
  Manifests().push_back({label, std::move(bytes), {}, {}});
  return true;
}

// The default manifests, written by the generator when missing.
std::vector<std::string> DefaultManifests() {
  const std::string directory = BREVICK_SOURCE_DIR "/build/manifests";
  std::vector<std::string> paths;
  std::string missing;
  for (const char* size : {"100K", "10M", "100M"}) {
    paths.push_back(directory + "/manifest-" + size + ".xml");
    if (!std::ifstream(paths.back())) missing += std::string(" ") + size;
  }
  if (!missing.empty()) {
    const std::string command = "python3 '" BREVICK_SOURCE_DIR "/bench/gen_manifest.py' " +
                                directory + missing + " >/dev/null";
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "parser_bench: could not write the manifests: %s\n", command.c_str());
      return {};
    }
  }
  return paths;
}

void PrintLoad(const char* when) {
  std::printf("load %s: ", when);
  std::fflush(stdout);
  if (std::system("uptime") != 0) std::printf("(uptime failed)\n");
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
void* operator new(std::size_t size, std::align_val_t alignment) {
  void* block = std::aligned_alloc(static_cast<std::size_t>(alignment),
                                   (size + static_cast<std::size_t>(alignment) - 1) &
                                       ~(static_cast<std::size_t>(alignment) - 1));
  if (block == nullptr) throw std::bad_alloc();
  CountIn(block);
  return block;
}
void operator delete(void* block, std::align_val_t) noexcept { CountingFree(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { CountingFree(block); }
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
  if (paths.empty()) paths = DefaultManifests();
  if (paths.empty()) return 1;
  Manifests().reserve(paths.size());
  for (const std::string& path : paths) {
    if (!LoadManifest(path)) return 1;
  }

  PrintLoad("before");
  for (Manifest& manifest : Manifests()) {
    // About a second of parsing for the smallest manifest, a few seconds for
    // the 10 MiB one, over ten for the largest.
    const std::size_t size = manifest.bytes.size();
    const int pairs = size > 50'000'000 ? 11 : size > 1'000'000 ? 41 : 401;
    benchmark::RegisterBenchmark(("AlternatingParse/" + manifest.label).c_str(),
                                 BM_AlternatingParse, &manifest)
        ->UseManualTime()
        ->Iterations(pairs)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();

  std::printf(
      "\nBoth parsers parse from memory into a tree; only the parse is timed (thread CPU\n"
      "time), both trees are freed outside the timing. Ratio: the median over the\n"
      "alternating pairs of libxml2's time / Brevick's.\n\n");
  for (const Manifest& manifest : Manifests()) {
    if (manifest.brevickSeconds.empty()) continue;
    std::vector<double> ratios;
    for (std::size_t i = 0; i < manifest.brevickSeconds.size(); ++i) {
      ratios.push_back(manifest.libxml2Seconds[i] / manifest.brevickSeconds[i]);
    }
    const double megabytes = static_cast<double>(manifest.bytes.size()) / 1e6;
    const auto [lowest, highest] = std::minmax_element(ratios.begin(), ratios.end());
    std::printf("parse %s: brevick/libxml2 throughput = %.2fx (goal: at least 1.50x)\n",
                manifest.label.c_str(), Median(ratios));
    std::printf(
        "    %zu pairs, pair ratios %.2fx to %.2fx; median MB/s Brevick %.1f, libxml2 %.1f\n",
        ratios.size(), *lowest, *highest, megabytes / Median(manifest.brevickSeconds),
        megabytes / Median(manifest.libxml2Seconds));
  }
  std::printf("\n");
  for (const Manifest& manifest : Manifests()) {
    const HeapFigures ours = MeasureBrevick(manifest.bytes);
    const HeapFigures theirs = MeasureLibXml2(manifest.bytes);
    std::printf("tree %s: brevick/libxml2 memory = %.2fx (goal: at most 1.00x)\n",
                manifest.label.c_str(),
                static_cast<double>(ours.treeBytes) / static_cast<double>(theirs.treeBytes));
    std::printf(
        "    Brevick %.2f MiB in %lld blocks (peak %.2f MiB); libxml2 %.2f MiB in %lld "
        "blocks (peak %.2f MiB)\n",
        Mib(ours.treeBytes), ours.treeBlocks, Mib(ours.peakBytes), Mib(theirs.treeBytes),
        theirs.treeBlocks, Mib(theirs.peakBytes));
  }
  std::printf("\n");
  PrintLoad("after");
  xmlCleanupParser();
  return 0;
}
