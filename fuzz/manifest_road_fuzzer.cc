// Fuzzes the manifest's whole road in memory: parse, validate, remove the
// developer information, hash the module files and write the release text.
// The module files live in a small directory made once per process.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/console_reporter.h"
#include "base/report.h"
#include "base/stage_result.h"
#include "base/utf8.h"
#include "manifest/developer_info.h"
#include "manifest/hashing_step.h"
#include "manifest/validation.h"
#include "xml/parser.h"
#include "xml/xmldoc.h"

namespace {

// Files the seeds name: a.dll beside the manifest, bin/b.dll through subPath,
// res/c.txt through %SourceRoot%. It serves as both the manifest's directory
// and the root directory. (No chdir: libFuzzer's corpus paths are relative.)
// Removed again when the fuzzer exits.
struct ScratchDirectory {
  std::filesystem::path path;
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

const std::wstring& ModuleDirectory() {
  static ScratchDirectory scratch;
  static const std::wstring directory = [] {
    char pattern[] = "/tmp/brevick-road-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    const std::filesystem::path root = pattern;
    scratch.path = root;
    std::filesystem::create_directories(root / "bin");
    std::filesystem::create_directories(root / "res");
    std::ofstream(root / "a.dll") << "abc";
    std::ofstream(root / "bin/b.dll") << std::string(10000, 'b');
    std::ofstream(root / "res/c.txt") << "";
    return brevick::ToWide(root.string());
  }();
  return directory;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring& directory = ModuleDirectory();
  brevick::ConsoleCapture console;
  brevick::SetVerbosity({.showProgress = true, .showDebug = true});
  brevick::ConsoleReporter reporter;

  std::unique_ptr<xmldoc::Document> document;
  try {
    document = xmldoc::Parser().Parse(reinterpret_cast<const char*>(data), size);
  } catch (const xmldoc::ParsingException&) {
    return 0;
  }
  if (document->IsEmpty() ||
      brevick::ValidateManifest(*document, reporter) != brevick::StageResult::kGoOn)
    return 0;
  brevick::RemovePackageDeveloperInformation(*document, reporter);
  brevick::RemoveModuleDeveloperInformation(*document, reporter);
  brevick::GenerateFileHashes(*document, brevick::HashSettings{directory, directory}, reporter);
  const std::string text = xmldoc::ToText(*document, "    ");
  return 0;
}
