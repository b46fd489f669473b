// manifest/hashing_step.cc: module file digests for the release manifest.
//
// The stage runs in three steps so that many files can be read at once while
// the console and the error list see exactly what one file after the other
// gives: a walk that edits the tree and plans every file in document order,
// the hashing on worker threads, and the results applied in document order.
#include "manifest/hashing_step.h"

#include <sys/stat.h>

#include <array>
#include <chrono>
#include <memory>
#include <new>
#include <string_view>
#include <utility>

#include "base/file_io.h"
#include "base/hex_text.h"
#include "base/reporter.h"
#include "base/stage_result.h"
#include "base/utf8.h"
#include "manifest/manifest_tree.h"
#include "manifest/source_path.h"
#include "xml/xmldoc.h"

namespace brevick {
namespace {

// How long the reader waits for the next result before it advances the
// progress display.
constexpr auto kProgressWait = std::chrono::milliseconds(100);

// Joins with the Windows separator, as the manifest's own paths are written;
// nothing is put in front of a relative part when the base is empty.
std::wstring JoinPath(std::wstring base, std::wstring_view part) {
  if (!base.empty()) base += L'\\';
  base += part;
  return base;
}

// The directory that holds a dependency's file: its `signInfo` path when it
// has one, else the module's `subPath` below the manifest's directory.
std::wstring BaseDirectory(const xmldoc::Element& dependency, const HashSettings& settings,
                           const std::wstring& subPath) {
  const std::string signPath =
      dependency.GetChildElement("signInfo").FindAttribute("path").GetText();
  if (!signPath.empty()) return ResolveSourcePath(signPath, settings.rootDirectory);
  return JoinPath(settings.manifestDirectory, subPath);
}

bool IsUtf8Document(const xmldoc::Document& document) {
  const std::string& encoding = document.GetEncoding();
  if (encoding.empty()) return true;
  constexpr std::string_view kUtf8 = "utf-8";
  if (encoding.size() != kUtf8.size()) return false;
  for (std::size_t i = 0; i < encoding.size(); ++i) {
    char ch = encoding[i];
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    if (ch != kUtf8[i]) return false;
  }
  return true;
}

// The writer collapses these, so the signed manifest would name another file.
bool ChangesWhenWritten(std::string_view name) {
  return name.find_first_of("\t\r\n") != std::string_view::npos ||
         name.find("  ") != std::string_view::npos;
}

bool HasNonAscii(std::string_view name) {
  for (const char ch : name)
    if (static_cast<unsigned char>(ch) >= 0x80) return true;
  return false;
}

// Why a dependency's file is refused before it is opened; empty when it is
// not. `file` and `subPath` are the names the written manifest carries.
std::wstring Refusal(const std::wstring& filePath, std::string_view file, std::string_view subPath,
                     bool utf8Document) {
  // The conversion stops at a NUL, which would name some other file.
  if (filePath.find(L'\0') != std::wstring::npos) return L"Check that it exists";
  if (ChangesWhenWritten(file) || ChangesWhenWritten(subPath))
    return L"Its name would change when the manifest is written";
  if (!utf8Document && (HasNonAscii(file) || HasNonAscii(subPath)))
    return L"Non-ASCII names need a UTF-8 manifest";
  return std::wstring();
}

// A dependency's file as the walk planned it.
struct PlannedFile {
  xmldoc::Element* dependency;
  std::wstring path;     // as built, for messages
  std::wstring refusal;  // why it is not opened; empty when it is hashed
};

struct PlannedModule {
  std::wstring name;
  std::vector<PlannedFile> files;
};

// Stores the digests in the dependency's elements.
void StoreDigests(xmldoc::Element& dependency, const FileDigests& digests,
                  DigestAlgorithm extraDigest) {
  // Without an `md5` element the digests have nowhere to go and are dropped.
  xmldoc::Element& md5 = dependency.GetChildElement("md5");
  if (md5.IsNull()) return;
  md5.GetOrCreateAttribute("value").SetValue("0x" + DigestToText(digests.md5));
  if (extraDigest == DigestAlgorithm::kMd2) return;
  const std::string value = "0x" + HexText(digests.extra);
  const std::string_view name = DigestName(extraDigest);
  xmldoc::Element& existing = dependency.GetChildElement(name);
  if (!existing.IsNull()) {
    existing.GetOrCreateAttribute("value").SetValue(value);
    return;
  }
  auto element = std::make_unique<xmldoc::Element>(&dependency, std::string(name));
  element->GetOrCreateAttribute("value").SetValue(value);
  dependency.InsertChild(std::move(element), md5, xmldoc::NodeContainer::Place::kAfter);
}

// Walks the modules in document order, makes the tree edits that do not
// depend on a digest, and plans every file.
std::vector<PlannedModule> PlanFiles(xmldoc::Document& document, const HashSettings& settings) {
  const bool utf8Document = IsUtf8Document(document);
  std::vector<PlannedModule> plan;
  xmldoc::Element& modules =
      document.GetRoot().GetChildElement("package").GetChildElement("modules");
  for (xmldoc::Element* module : ChildElements(modules)) {
    PlannedModule& planned = plan.emplace_back();
    planned.name = WideAttributeValue(*module, "name");
    // Both are created when absent and so appear, empty, in the output.
    const std::string subPath = module->GetOrCreateAttribute("subPath").GetText();
    const std::wstring wideSubPath = ToWide(subPath);
    xmldoc::Element& dependencies = module->GetOrCreateChildElement("dependencies", 0);
    for (xmldoc::Element* dependency : ChildElements(dependencies)) {
      const std::string file = dependency->GetOrCreateAttribute("file").GetText();
      const std::wstring baseDirectory = BaseDirectory(*dependency, settings, wideSubPath);
      // The build location never reaches the release manifest, hashed or not.
      dependency->RemoveChildElement("signInfo", 0);
      std::wstring path = JoinPath(baseDirectory, ToWide(file));
      std::wstring refusal = Refusal(path, file, subPath, utf8Document);
      planned.files.push_back({dependency, std::move(path), std::move(refusal)});
    }
  }
  return plan;
}

// The sizes of the files to hash, for the progress display's estimate.
std::uint64_t TotalSize(const std::vector<std::string>& paths) {
  std::uint64_t total = 0;
  for (const std::string& path : paths) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode))
      total += static_cast<std::uint64_t>(status.st_size);
  }
  return total;
}

// The paths the hasher opens, in document order: every planned file that is
// not refused.
std::vector<std::string> PathsToHash(const std::vector<PlannedModule>& plan) {
  std::vector<std::string> paths;
  for (const PlannedModule& module : plan) {
    for (const PlannedFile& file : module.files)
      if (file.refusal.empty()) paths.push_back(OpenablePath(file.path));
  }
  return paths;
}

std::uint64_t FileCount(const std::vector<PlannedModule>& plan) {
  std::uint64_t count = 0;
  for (const PlannedModule& module : plan) count += module.files.size();
  return count;
}

// Tells the reporter that the hashing display is over, however the step
// ends: the display must not stay on the terminal after an exception.
class HashingDisplay {
 public:
  HashingDisplay(Reporter& told, bool shown, const std::vector<PlannedModule>& plan,
                 const std::vector<std::string>& paths)
      : reporter(told) {
    if (shown) reporter.HashingStarted(FileCount(plan), TotalSize(paths));
  }
  ~HashingDisplay() { reporter.HashingEnded(); }
  HashingDisplay(const HashingDisplay&) = delete;
  HashingDisplay& operator=(const HashingDisplay&) = delete;

 private:
  Reporter& reporter;
};

// The hasher's result for a planned file, the display advanced while it is
// awaited; nothing for a refused file.
std::optional<FileDigests> AwaitDigests(const PlannedFile& file, OrderedFileHasher& hasher,
                                        std::uint64_t filesDone, Reporter& reporter) {
  if (!file.refusal.empty()) return std::nullopt;
  std::optional<FileDigests> digests;
  while (!(digests = hasher.Next(kProgressWait)))
    reporter.HashingAdvanced(filesDone, hasher.BytesRead());
  if (digests->outcome == FileHashOutcome::kOutOfMemory) throw std::bad_alloc();
  return digests;
}

// Reports the file's outcome in its place and stores its digests; false when
// it could not be hashed.
bool RecordOutcome(const PlannedFile& file, const std::optional<FileDigests>& digests,
                   const HashSettings& settings, Reporter& reporter) {
  if (!digests || digests->outcome != FileHashOutcome::kHashed) {
    const std::wstring reason =
        digests ? std::wstring(HashFailureReason(digests->outcome)) : file.refusal;
    reporter.Error(L"Error generating MD5 for '" + file.path + L"'. " + reason);
    return false;
  }
  if (settings.hashedFiles != nullptr) settings.hashedFiles->push_back(digests->identity);
  reporter.Progress(L"Generated MD5 for " + file.path);
  StoreDigests(*file.dependency, *digests, settings.extraDigest);
  return true;
}

}  // namespace

StageResult GenerateFileHashes(xmldoc::Document& document, const HashSettings& settings,
                               Reporter& reporter) {
  reporter.Progress(
      L"Generating dependencing hashes for module files");  // sic: release scripts match
                                                            // the line as it stands
  const std::vector<PlannedModule> plan = PlanFiles(document, settings);
  const std::vector<std::string> paths = PathsToHash(plan);
  const HashingDisplay display(reporter, settings.progressDisplay, plan, paths);
  OrderedFileHasher hasher(paths,
                           FileHashOptions{DigestSet{settings.extraDigest},
                                           settings.confinedDirectories, settings.afterBlock},
                           settings.jobs);
  // Every line comes from this thread, in document order.
  int failureCount = 0;
  std::uint64_t filesDone = 0;
  for (const PlannedModule& module : plan) {
    reporter.Progress(L"Generating hashes for files in module '" + module.name + L"'.");
    for (const PlannedFile& file : module.files) {
      const std::optional<FileDigests> digests = AwaitDigests(file, hasher, filesDone, reporter);
      reporter.HashingAdvanced(++filesDone, hasher.BytesRead());
      if (!RecordOutcome(file, digests, settings, reporter)) ++failureCount;
    }
  }
  return failureCount > 0 ? StageResult::kHashingFailed : StageResult::kGoOn;
}

}  // namespace brevick
