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

// The extra digest's element of a dependency that has `md5`: the first of
// its name, else a new one right after `md5`.
xmldoc::Element& ExtraDigestElement(xmldoc::Element& dependency, xmldoc::Element& md5,
                                    DigestAlgorithm extraDigest) {
  const std::string_view name = DigestName(extraDigest);
  xmldoc::Element& existing = dependency.GetChildElement(name);
  if (!existing.IsNull()) return existing;
  auto element = std::make_unique<xmldoc::Element>(&dependency, std::string(name));
  xmldoc::Element& added = *element;
  dependency.InsertChild(std::move(element), md5, xmldoc::NodeContainer::Place::kAfter);
  return added;
}

// Stores the digests in the dependency's elements.
void StoreDigests(xmldoc::Element& dependency, const FileDigests& digests,
                  DigestAlgorithm extraDigest) {
  // Without an `md5` element the digests have nowhere to go and are dropped.
  xmldoc::Element& md5 = dependency.GetChildElement("md5");
  if (md5.IsNull()) return;
  md5.GetOrCreateAttribute("value").SetValue("0x" + DigestToText(digests.md5));
  if (extraDigest == DigestAlgorithm::kMd2) return;
  ExtraDigestElement(dependency, md5, extraDigest)
      .GetOrCreateAttribute("value")
      .SetValue("0x" + HexText(digests.extra));
}

// Whether `first` comes before `second` among the parent's children.
bool ComesBefore(const xmldoc::Element& parent, const xmldoc::Node& first,
                 const xmldoc::Node& second) {
  for (const auto& child : parent.GetChildren()) {
    if (child.get() == &first) return true;
    if (child.get() == &second) return false;
  }
  return false;
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
// "0x" and the digest's hex digits. Made once, for the longest digest,
// rather than once for each file.
std::string_view Placeholder(std::size_t digestSizeInBytes) {
  static const std::string longest =
      "0x" + std::string(2 * DigestSizeInBytes(DigestAlgorithm::kSha512), '0');
  return std::string_view(longest).substr(0, 2 + 2 * digestSizeInBytes);
}

}  // namespace

FileHashPlan::FileHashPlan(xmldoc::Document& document, HashSettings hashSettings, Reporter& told,
                           bool withPlaceholders)
    : settings(std::move(hashSettings)), reporter(told) {
  reporter.Progress(
      L"Generating dependencing hashes for module files");  // sic: release scripts match
                                                            // the line as it stands
  Plan(document, withPlaceholders);
}

// Walks the modules in document order, makes the tree edits that do not
// depend on a digest, and plans every file.
void FileHashPlan::Plan(xmldoc::Document& document, bool withPlaceholders) {
  const bool utf8Document = IsUtf8Document(document);
  xmldoc::Element& modulesElement =
      document.GetRoot().GetChildElement("package").GetChildElement("modules");
  for (xmldoc::Element* module : ChildElements(modulesElement)) {
    Module& planned = modules.emplace_back(Module{module->FindAttribute("name").GetText(), 0});
    // Both are created when absent and so appear, empty, in the output.
    const std::string subPath = module->GetOrCreateAttribute("subPath").GetText();
    const std::wstring wideSubPath = ToWide(subPath);
    xmldoc::Element& dependencies = module->GetOrCreateChildElement("dependencies", 0);
    for (xmldoc::Element* dependency : ChildElements(dependencies)) {
      std::string file = dependency->GetOrCreateAttribute("file").GetText();
      std::wstring baseDirectory = BaseDirectory(*dependency, settings, wideSubPath);
      // The build location never reaches the release manifest, hashed or not.
      dependency->RemoveChildElement("signInfo", 0);
      const std::wstring_view refusal =
          Refusal(JoinPath(baseDirectory, ToWide(file)), file, subPath, utf8Document);
      xmldoc::Element& md5 = dependency->GetChildElement("md5");
      const bool placeholder = withPlaceholders && refusal.empty() && !md5.IsNull();
      const bool extraFirst = placeholder && AddPlaceholders(*dependency, md5);
      if (bases.empty() || bases.back() != baseDirectory) bases.push_back(std::move(baseDirectory));
      files.push_back(
          {dependency, std::move(file), bases.size() - 1, refusal, placeholder, extraFirst});
      ++planned.fileCount;
    }
  }
}

// The placeholders of a dependency's digests, in the order the writer meets
// them; true when the extra digest's comes first.
bool FileHashPlan::AddPlaceholders(xmldoc::Element& dependency, xmldoc::Element& md5) {
  xmldoc::Attribute& md5Value = md5.GetOrCreateAttribute("value");
  md5Value.SetValue(Placeholder(kMd5DigestSizeInBytes));
  if (settings.extraDigest == DigestAlgorithm::kMd2) {
    placeholders.push_back(&md5Value);
    return false;
  }
  xmldoc::Element& extra = ExtraDigestElement(dependency, md5, settings.extraDigest);
  xmldoc::Attribute& extraValue = extra.GetOrCreateAttribute("value");
  extraValue.SetValue(Placeholder(DigestSizeInBytes(settings.extraDigest)));
  const bool extraFirst = ComesBefore(dependency, extra, md5);
  placeholders.push_back(extraFirst ? &extraValue : &md5Value);
  placeholders.push_back(extraFirst ? &md5Value : &extraValue);
  return extraFirst;
}

std::wstring FileHashPlan::PathOf(const File& file) const {
  return JoinPath(bases[file.base], ToWide(file.name));
}

void FileHashPlan::PlaceholdersWritten(std::vector<std::size_t> offsets) {
  // Every placeholder is met by the writer, in order; anything else would put
  // digests in the wrong places.
  if (offsets.size() != placeholders.size())
    throw std::logic_error("the written text lost a digest's placeholder");
  placeholderOffsets = std::move(offsets);
  std::vector<const xmldoc::Attribute*>().swap(placeholders);
  for (File& file : files) file.dependency = nullptr;
}

bool FileHashPlan::Record(const File& file, const std::optional<FileDigests>& digests,
                          std::string* text) {
  // Placeholders are used up whatever the outcome, so that the next file's
  // digests go to its own.
  std::size_t md5Offset = 0;
  std::size_t extraOffset = 0;
  if (file.placeholder) {
    md5Offset = placeholderOffsets[filled++];
    if (settings.extraDigest != DigestAlgorithm::kMd2) extraOffset = placeholderOffsets[filled++];
    if (file.extraFirst) std::swap(md5Offset, extraOffset);
  }
  const std::wstring path = PathOf(file);
  if (!digests || digests->outcome != FileHashOutcome::kHashed) {
    std::wstring message = L"Error generating MD5 for '" + path + L"'. ";
    message += digests ? HashFailureReason(digests->outcome) : file.refusal;
    reporter.Error(message);
    return false;
  }
  if (settings.hashedFiles != nullptr) settings.hashedFiles->push_back(digests->identity);
  reporter.Progress(L"Generated MD5 for " + path);
  if (file.placeholder) {
    // In place: the text before them may be being digested meanwhile.
    const auto fill = [text](std::size_t valueOffset, const std::string& digits) {
      std::copy(digits.begin(), digits.end(),
                text->begin() + static_cast<std::ptrdiff_t>(valueOffset + 2));
    };
    fill(md5Offset, DigestToText(digests->md5));
    if (settings.extraDigest != DigestAlgorithm::kMd2) fill(extraOffset, HexText(digests->extra));
  } else if (file.dependency != nullptr) {
    StoreDigests(*file.dependency, *digests, settings.extraDigest);
  }
  return true;
}

StageResult FileHashPlan::Hash(std::string* text, const std::function<void(std::size_t)>& settled) {
  if (!placeholders.empty() || (!placeholderOffsets.empty() && text == nullptr))
    throw std::logic_error("digests hashed before their placeholders were written");
  // The paths the hasher opens, in document order: every file not refused.
  std::vector<std::string> paths;
  for (const File& file : files)
    if (file.refusal.empty()) paths.push_back(OpenablePath(PathOf(file)));
  const HashingDisplay display(reporter, settings.progressDisplay, files.size(), paths);
  OrderedFileHasher hasher(paths,
                           FileHashOptions{DigestSet{settings.extraDigest},
                                           settings.confinedDirectories, settings.afterBlock},
                           settings.jobs);
  const bool digesting = text != nullptr && settled;
  // Every line comes from this thread, in document order.
  int failureCount = 0;
  std::uint64_t filesDone = 0;
  auto file = files.cbegin();
  for (const Module& module : modules) {
    reporter.Progress(L"Generating hashes for files in module '" + ToWide(module.name) + L"'.");
    for (const auto moduleEnd = file + static_cast<std::ptrdiff_t>(module.fileCount);
         file != moduleEnd; ++file) {
      const std::optional<FileDigests> digests =
          AwaitDigests(!file->refusal.empty(), hasher, filesDone, reporter);
      reporter.HashingAdvanced(++filesDone, hasher.BytesRead());
      if (!Record(*file, digests, text)) ++failureCount;
      // The text up to the next placeholder is final now: it is digested
      // here while the other threads read the files after this one.
      if (digesting && file->placeholder && failureCount == 0)
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
