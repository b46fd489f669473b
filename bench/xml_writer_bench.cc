// bench/xml_writer_bench.cc: writer throughput on a large manifest, side by
// side with libxml2 serialising the same text.
//
// The tree is built in code the way the parser would hold an indented
// manifest of about 10 MB: thousands of modules with dependencies, attributes,
// entity references, comments and the whitespace text between elements. It is
// written with four-blank indentation, as the signed manifest is. libxml2
// reads the written text once, outside the timing, and its
// xmlDocDumpFormatMemory is timed on it. At the end the ratio of the times is
// printed (below 1: Brevick is faster).
//
//   cmake --preset bench && cmake --build --preset bench -j2 --target xml_writer_bench
//   build/bench/bench/xml_writer_bench
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "xml/xmldoc.h"

namespace {

constexpr int kModuleCount = 7000;
constexpr int kDependenciesPerModule = 5;

// Appends an element with a whitespace Text before it, as an indented source
// parses, and returns it.
xmldoc::Element& AddIndentedElement(xmldoc::NodeContainer& parent, const char* name,
                                    const char* indentBefore) {
  parent.AddText(indentBefore);
  auto element = std::make_unique<xmldoc::Element>(&parent, name);
  xmldoc::Element& added = *element;
  parent.AddChild(std::move(element));
  return added;
}

// An attribute value, optionally split by an entity reference as parsed.
void AddAttribute(xmldoc::Element& element, const char* name, const std::string& before,
                  const char* entity = nullptr, const std::string& after = {}) {
  auto attribute = std::make_unique<xmldoc::Attribute>(&element, name);
  attribute->AddText(before);
  if (entity != nullptr) {
    attribute->AddChild(std::make_unique<xmldoc::EntityRef>(attribute.get(), entity));
    attribute->AddText(after);
  }
  element.AddAttribute(std::move(attribute));
}

std::string Numbered(const char* prefix, int number) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s%05d", prefix, number);
  return buffer;
}

std::unique_ptr<xmldoc::Document> BuildManifest() {
  auto document = std::make_unique<xmldoc::Document>();
  document->AddChild(std::make_unique<xmldoc::Comment>(document.get(), " generated manifest "));
  auto root = std::make_unique<xmldoc::Element>(document.get(), "dravanePackage");
  xmldoc::Element& package = AddIndentedElement(*root, "package", "\n  ");
  AddAttribute(package, "name", "Benchmark ", "amp", " Co. package");
  AddAttribute(package, "id", "{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
  xmldoc::Element& modules = AddIndentedElement(package, "modules", "\n    ");
  for (int m = 0; m < kModuleCount; ++m) {
    xmldoc::Element& module = AddIndentedElement(modules, "module", "\n      ");
    AddAttribute(module, "name", Numbered("Module ", m));
    std::string id(1, '{');  // built up: GCC 12 misreads "{" + std::string as overlapping
    id += Numbered("0000", m);
    id += "-8B86-D011-B42D-00C04FC964FF}";
    AddAttribute(module, "id", id);
    AddAttribute(module, "host", m % 2 == 0 ? "Engine" : "UI");
    AddAttribute(module, "subPath", "bin\\" + Numbered("mod", m));
    module.AddText("\n        ");
    module.AddChild(std::make_unique<xmldoc::Comment>(&module, Numbered(" module ", m) + " "));
    xmldoc::Element& description = AddIndentedElement(module, "description", "\n        ");
    description.AddText("Tools ");
    description.AddChild(std::make_unique<xmldoc::EntityRef>(&description, "amp"));
    description.AddText(" helpers ");
    description.AddChild(std::make_unique<xmldoc::EntityRef>(&description, "lt"));
    description.AddText("v1");
    description.AddChild(std::make_unique<xmldoc::EntityRef>(&description, "gt"));
    xmldoc::Element& dependencies = AddIndentedElement(module, "dependencies", "\n        ");
    for (int d = 0; d < kDependenciesPerModule; ++d) {
      xmldoc::Element& dependency = AddIndentedElement(dependencies, "dependency", "\n          ");
      AddAttribute(dependency, "file", Numbered("mod", m) + "_" + std::to_string(d) + ".dll");
      AddAttribute(dependency, "entryPoint", d == 0 ? "1" : "0");
      xmldoc::Element& destination =
          AddIndentedElement(dependency, "destination", "\n            ");
      AddAttribute(destination, "value", d % 3 == 0 ? "local" : "shared");
      xmldoc::Element& md5 = AddIndentedElement(dependency, "md5", "\n            ");
      AddAttribute(md5, "value", "0x0123456789abcdef0123456789abcdef");
      dependency.AddText("\n          ");
    }
    dependencies.AddText("\n        ");
    module.AddText("\n      ");
  }
  modules.AddText("\n    ");
  package.AddText("\n  ");
  root->AddText("\n");
  document->AddRoot(std::move(root));
  return document;
}

const xmldoc::Document& Manifest() {
  static const std::unique_ptr<xmldoc::Document> document = BuildManifest();
  return *document;
}

std::string WriteManifest() { return xmldoc::ToText(Manifest(), "    "); }

// The written manifest as libxml2 reads it, with or without the whitespace
// text between elements (without it, libxml2 indents the output itself).
xmlDocPtr LibxmlManifest(bool dropBlanks) {
  static const std::string text = WriteManifest();
  return xmlReadMemory(text.data(), static_cast<int>(text.size()), "manifest.xml", "UTF-8",
                       dropBlanks ? XML_PARSE_NOBLANKS : 0);
}

void BM_BrevickWrite(benchmark::State& state) {
  const xmldoc::Document& document = Manifest();
  std::size_t bytes = WriteManifest().size();
  for (auto _ : state) {
    std::string out;  // reserved:0 as the signing step writes: a fresh string
    if (state.range(0) != 0) out.reserve(bytes + bytes / 8);  // reserved:1, for comparison
    xmldoc::WriteContext context(out, "    ", 0);
    document.Write(context);
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
  state.counters["output_MB"] = static_cast<double>(bytes) / 1e6;
}

void LibxmlDump(benchmark::State& state, bool dropBlanks) {
  xmlDocPtr document = LibxmlManifest(dropBlanks);
  if (document == nullptr) {
    state.SkipWithError("libxml2 could not read the written manifest");
    return;
  }
  int bytes = 0;
  for (auto _ : state) {
    xmlChar* out = nullptr;
    xmlDocDumpFormatMemory(document, &out, &bytes, 1);
    benchmark::DoNotOptimize(out);
    xmlFree(out);
  }
  xmlFreeDoc(document);
  state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
  state.counters["output_MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_Libxml2DumpFormat(benchmark::State& state) { LibxmlDump(state, false); }
void BM_Libxml2DumpFormatNoBlanks(benchmark::State& state) { LibxmlDump(state, true); }

BENCHMARK(BM_BrevickWrite)->ArgName("reserved")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Libxml2DumpFormat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Libxml2DumpFormatNoBlanks)->Unit(benchmark::kMillisecond);

// Collects CPU time per iteration by benchmark name, so the ratio is taken
// from the same run as the figures shown.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool mean = run.run_type == Run::RT_Aggregate && run.aggregate_name == "mean";
      if (run.run_type == Run::RT_Iteration || mean) {
        // With repetitions, the mean replaces the single runs.
        Sample& sample = samples[run.run_name.str()];
        if (mean) sample = {};
        sample.milliseconds += run.GetAdjustedCPUTime();
        sample.count += 1;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintRatios() const {
    const double libxml = Mean("BM_Libxml2DumpFormat");
    for (const char* brevick : {"BM_BrevickWrite/reserved:0", "BM_BrevickWrite/reserved:1"}) {
      const double ours = Mean(brevick);
      if (ours <= 0 || libxml <= 0) continue;
      std::printf("CPU time %s / BM_Libxml2DumpFormat: %.3f (%.2f ms / %.2f ms)\n", brevick,
                  ours / libxml, ours, libxml);
    }
  }

 private:
  struct Sample {
    double milliseconds = 0;
    int count = 0;
  };

  double Mean(const std::string& name) const {
    const auto found = samples.find(name);
    if (found == samples.end() || found->second.count == 0) return 0;
    return found->second.milliseconds / found->second.count;
  }

  std::map<std::string, Sample> samples;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  LIBXML_TEST_VERSION
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  xmlCleanupParser();
  return 0;
}
