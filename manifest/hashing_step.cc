// manifest/hashing_step.cc: module file digests for the release manifest.
//
// The stage runs in three steps so that many files can be read at once while
// the console and the error list see exactly what one file after the other
// gives: a walk that edits the tree and plans every file in document order,
// the hashing on worker threads, and the results applied in document order.
// The results may go to the written text instead of the tree: the walk then
// leaves a placeholder of the digest's width in each value, and the text up
// to the first placeholder still unfilled is final, so the caller can digest
// it while the files after it are still being read.
#include "manifest/hashing_step.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <new>
#include <stdexcept>
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
std::wstring_view Refusal(const std::wstring& filePath, std::string_view file,
                          std::string_view subPath, bool utf8Document) {
  // The conversion stops at a NUL, which would name some other file.
  if (filePath.find(L'\0') != std::wstring::npos) return L"Check that it exists";
  if (ChangesWhenWritten(file) || ChangesWhenWritten(subPath))
    return L"Its name would change when the manifest is written";
  if (!utf8Document && (HasNonAscii(file) || HasNonAscii(subPath)))
    return L"Non-ASCII names need a UTF-8 manifest";
  return {};
}

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
template <typename Modules>
std::vector<std::string> PathsToHash(const Modules& modules) {
  std::vector<std::string> paths;
  for (const auto& module : modules) {
    for (const auto& file : module.files)
      if (file.refusal.empty()) paths.push_back(OpenablePath(file.path));
  }
  return paths;
}

template <typename Modules>
std::uint64_t FileCount(const Modules& modules) {
  std::uint64_t count = 0;
  for (const auto& module : modules) count += module.files.size();
  return count;
}

// Tells the reporter that the hashing display is over, however the step
// ends: the display must not stay on the terminal after an exception.
class HashingDisplay {
 public:
  HashingDisplay(Reporter& told, bool shown, std::uint64_t fileCount,
                 const std::vector<std::string>& paths)
      : reporter(told) {
    if (shown) reporter.HashingStarted(fileCount, TotalSize(paths));
  }
  ~HashingDisplay() { reporter.HashingEnded(); }
  HashingDisplay(const HashingDisplay&) = delete;
  HashingDisplay& operator=(const HashingDisplay&) = delete;

 private:
  Reporter& reporter;
};

// The hasher's result for a planned file, the display advanced while it is
// awaited; nothing for a refused file.
std::optional<FileDigests> AwaitDigests(bool refused, OrderedFileHasher& hasher,
                                        std::uint64_t filesDone, Reporter& reporter) {
  if (refused) return std::nullopt;
  std::optional<FileDigests> digests;
  while (!(digests = hasher.Next(kProgressWait)))
    reporter.HashingAdvanced(filesDone, hasher.BytesRead());
  if (digests->outcome == FileHashOutcome::kOutOfMemory) throw std::bad_alloc();
  return digests;
}

// What a placeholder holds until its digest is written over it: the width of
// "0x" and an MD5 digest's hex digits.
const std::string& Placeholder() {
  static const std::string placeholder = "0x" + std::string(2 * kMd5DigestSizeInBytes, '0');
  return placeholder;
}

}  // namespace

FileHashPlan::FileHashPlan(xmldoc::Document& document, HashSettings hashSettings, Reporter& told,
                           bool withPlaceholders)
    : settings(std::move(hashSettings)), reporter(told) {
  reporter.Progress(
      L"Generating dependencing hashes for module files");  // sic: release scripts match
                                                            // the line as it stands
  Plan(document, withPlaceholders && settings.extraDigest == DigestAlgorithm::kMd2);
}

// Walks the modules in document order, makes the tree edits that do not
// depend on a digest, and plans every file.
void FileHashPlan::Plan(xmldoc::Document& document, bool withPlaceholders) {
  const bool utf8Document = IsUtf8Document(document);
  xmldoc::Element& modulesElement =
      document.GetRoot().GetChildElement("package").GetChildElement("modules");
  for (xmldoc::Element* module : ChildElements(modulesElement)) {
    Module& planned = modules.emplace_back();
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
      const std::wstring_view refusal = Refusal(path, file, subPath, utf8Document);
      xmldoc::Element& md5 = dependency->GetChildElement("md5");
      const bool placeholder = withPlaceholders && refusal.empty() && !md5.IsNull();
      if (placeholder) {
        xmldoc::Attribute& value = md5.GetOrCreateAttribute("value");
        value.SetValue(Placeholder());
        placeholders.push_back(&value);
      }
      planned.files.push_back({dependency, std::move(path), refusal, placeholder});
    }
  }
}

void FileHashPlan::PlaceholdersWritten(std::vector<std::size_t> offsets) {
  // Every placeholder is met by the writer, in order; anything else would put
  // digests in the wrong places.
  if (offsets.size() != placeholders.size())
    throw std::logic_error("the written text lost a digest's placeholder");
  placeholderOffsets = std::move(offsets);
  std::vector<const xmldoc::Attribute*>().swap(placeholders);
  for (Module& module : modules)
    for (File& file : module.files) file.dependency = nullptr;
}

bool FileHashPlan::Record(const File& file, const std::optional<FileDigests>& digests,
                          std::string* text) {
  // A placeholder is used up whatever the outcome, so that the next file's
  // digest goes to its own.
  const std::size_t valueOffset = file.placeholder ? placeholderOffsets[filled++] : 0;
  if (!digests || digests->outcome != FileHashOutcome::kHashed) {
    std::wstring message = L"Error generating MD5 for '" + file.path + L"'. ";
    message += digests ? HashFailureReason(digests->outcome) : file.refusal;
    reporter.Error(message);
    return false;
  }
  if (settings.hashedFiles != nullptr) settings.hashedFiles->push_back(digests->identity);
  reporter.Progress(L"Generated MD5 for " + file.path);
  if (file.placeholder) {
    const std::string digits = DigestToText(digests->md5);
    // In place: the text before it may be being digested meanwhile.
    std::copy(digits.begin(), digits.end(),
              text->begin() + static_cast<std::ptrdiff_t>(valueOffset + 2));
  } else if (file.dependency != nullptr) {
    StoreDigests(*file.dependency, *digests, settings.extraDigest);
  }
  return true;
}

StageResult FileHashPlan::Hash(std::string* text, const std::function<void(std::size_t)>& settled) {
  if (!placeholders.empty() || (!placeholderOffsets.empty() && text == nullptr))
    throw std::logic_error("digests hashed before their placeholders were written");
  const std::vector<std::string> paths = PathsToHash(modules);
  const HashingDisplay display(reporter, settings.progressDisplay, FileCount(modules), paths);
  OrderedFileHasher hasher(paths,
                           FileHashOptions{DigestSet{settings.extraDigest},
                                           settings.confinedDirectories, settings.afterBlock},
                           settings.jobs);
  const bool digesting = text != nullptr && settled;
  // Every line comes from this thread, in document order.
  int failureCount = 0;
  std::uint64_t filesDone = 0;
  for (const Module& module : modules) {
    reporter.Progress(L"Generating hashes for files in module '" + module.name + L"'.");
    for (const File& file : module.files) {
      const std::optional<FileDigests> digests =
          AwaitDigests(!file.refusal.empty(), hasher, filesDone, reporter);
      reporter.HashingAdvanced(++filesDone, hasher.BytesRead());
      if (!Record(file, digests, text)) ++failureCount;
      // The text up to the next placeholder is final now: it is digested
      // here while the other threads read the files after this one.
      if (digesting && file.placeholder && failureCount == 0)
        settled(filled < placeholderOffsets.size() ? placeholderOffsets[filled] : text->size());
    }
  }
  if (failureCount > 0) return StageResult::kHashingFailed;
  if (digesting) settled(text->size());
  return StageResult::kGoOn;
}

StageResult GenerateFileHashes(xmldoc::Document& document, const HashSettings& settings,
                               Reporter& reporter) {
  FileHashPlan plan(document, settings, reporter, false);
  return plan.Hash(nullptr);
}

}  // namespace brevick
