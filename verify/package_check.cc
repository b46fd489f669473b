// verify/package_check.cc: the phases of a package check: open the package
// directory once, read the dependencies out of the signed manifest (the
// document is freed before any file is read), hash the files beneath the
// directory's descriptor, then list what no dependency names.
#include "verify/package_check.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

#include "manifest/manifest_tree.h"
#include "xml/parser.h"
#include "xml/xmldoc.h"

namespace brevick {
namespace {

constexpr std::string_view kHexPrefix = "0x";

// subPath + separator + file, or the file alone when there is no subPath.
std::string JoinManifestPath(const std::string& subPath, const std::string& file, char separator) {
  if (subPath.empty()) return file;
  std::string joined = subPath;
  joined += separator;
  joined += file;
  return joined;
}

// A lookup of the real path; empty when it fails.
std::string RealPath(const std::string& path) {
  const std::unique_ptr<char, decltype(&free)> resolved(::realpath(path.c_str(), nullptr), free);
  return resolved ? std::string(resolved.get()) : std::string();
}

bool IsDriveLetterPath(const std::string& path) {
  return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

// The manifest's relative path in "/" form with "." and empty parts dropped
// and ".." applied; nothing when it is absolute or climbs above the root.
std::optional<std::string> RelativePackagePath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  // "C:/..." names a drive: absolute for the manifest's author.
  if (path.empty() || path[0] == '/' || IsDriveLetterPath(path) ||
      path.find('\0') != std::string::npos)
    return std::nullopt;
  std::vector<std::string_view> parts;
  const std::string_view whole(path);
  for (std::size_t start = 0; start <= whole.size();) {
    const std::size_t end = std::min(whole.find('/', start), whole.size());
    const std::string_view part = whole.substr(start, end - start);
    if (part == "..") {
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  if (parts.empty()) return std::nullopt;
  std::string joined;
  for (const std::string_view part : parts) {
    if (!joined.empty()) joined += '/';
    joined += part;
  }
  return joined;
}

std::string NormaliseDigestText(std::string value) {
  std::transform(value.begin(), value.end(), value.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (value.starts_with(kHexPrefix)) value.erase(0, kHexPrefix.size());
  return value;
}

// Phase one: the directory, opened once; everything beneath it is opened
// relative to this descriptor.
bool OpenPackageDirectory(const std::string& root, FileDescriptor& directory, std::string& realRoot,
                          std::string& error) {
  directory.Reset(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Get() < 0) {
    const int openError = errno;
    struct stat status {};
    error = openError == ENOTDIR && ::stat(root.c_str(), &status) == 0
                ? "the package directory is not a directory"
                : "the package directory cannot be opened: " + FileErrorText(openError);
    return false;
  }
  // Only for naming the extra files: nothing is opened through this path.
  realRoot = RealPath("/proc/self/fd/" + std::to_string(directory.Get()));
  if (realRoot.empty()) realRoot = RealPath(root);
  return true;
}

std::unique_ptr<xmldoc::Document> ParseSignedContent(std::span<const std::uint8_t> content,
                                                     std::string& error) {
  try {
    return xmldoc::Parser().Parse(reinterpret_cast<const char*>(content.data()), content.size());
  } catch (const xmldoc::ParsingException& failure) {
    error = std::string("the signed content is not XML: ") + failure.GetErrorText() + " at line " +
            std::to_string(failure.line) + ", column " + std::to_string(failure.column);
    return nullptr;
  }
}

// What the manifest asks to be hashed, one group per combination of digests
// (a package nearly always has one).
struct HashPlan {
  std::map<WantedDigests, PackageFileGroup> groups;
};

FileEntry EntryFor(const std::string& moduleName, const std::string& subPath,
                   xmldoc::Element& dependency, WantedDigests& wanted) {
  FileEntry entry;
  entry.module = moduleName;
  entry.path = JoinManifestPath(subPath, dependency.FindAttribute("file").GetText(), '\\');
  for (std::size_t kind = 0; kind < static_cast<std::size_t>(DigestKind::kCount); ++kind) {
    const xmldoc::Attribute& value =
        dependency.GetChildElement(DigestKindName(static_cast<DigestKind>(kind)))
            .FindAttribute("value");
    if (value.IsNull() || value.GetText().empty()) continue;
    entry.digests.push_back(
        {static_cast<DigestKind>(kind), NormaliseDigestText(value.GetText()), {}});
    wanted[kind] = true;
  }
  return entry;
}

// Phase two: one entry per dependency, in manifest order; a path that
// leaves the package by its spelling is outside and planned for nothing.
void CollectEntries(xmldoc::Element& modules, std::vector<FileEntry>& entries, HashPlan& plan) {
  for (xmldoc::Element* module : ChildElements(modules)) {
    const std::string moduleName = module->FindAttribute("name").GetText();
    const std::string subPath = module->FindAttribute("subPath").GetText();
    for (xmldoc::Element* dependency : ChildElements(module->GetChildElement("dependencies"))) {
      WantedDigests wanted{};
      FileEntry entry = EntryFor(moduleName, subPath, *dependency, wanted);
      std::optional<std::string> relative = RelativePackagePath(
          JoinManifestPath(subPath, dependency->FindAttribute("file").GetText(), '/'));
      if (!relative) {
        entry.status = FileStatus::kOutside;
      } else {
        PackageFileGroup& group = plan.groups[wanted];
        group.paths.push_back(std::move(*relative));
        group.entries.push_back(entries.size());
      }
      entries.push_back(std::move(entry));
    }
  }
}

// Reads the plan out of the signed manifest; false (with the reason in
// `files.error`) when it is no manifest.
bool PlanFromContent(std::span<const std::uint8_t> content, VerifyReport::Files& files,
                     HashPlan& plan) {
  const std::unique_ptr<xmldoc::Document> document = ParseSignedContent(content, files.error);
  if (!document) return false;
  xmldoc::Element& modules =
      document->GetRoot().GetChildElement("package").GetChildElement("modules");
  // Signed XML that is no manifest must not pass as a package whose files
  // all match.
  if (modules.IsNull()) {
    files.error = "the signed content is not a manifest: it has no package modules";
    return false;
  }
  CollectEntries(modules, files.entries, plan);
  return true;
}

// The relative paths the manifest names, sorted for lookup, taken from the
// plan once its files are hashed.
std::vector<std::string> NamedPaths(HashPlan&& plan) {
  std::vector<std::string> named;
  for (auto& [wanted, group] : plan.groups) {
    std::move(group.paths.begin(), group.paths.end(), std::back_inserter(named));
    group = {};
  }
  std::sort(named.begin(), named.end());
  return named;
}

bool Contains(const std::vector<std::string>& sorted, const std::string& path) {
  return std::binary_search(sorted.begin(), sorted.end(), path);
}

// Phase four: what lies under the package and no dependency names. The walk
// only lists names and follows no link; a named link's target counts as
// named.
void ListExtraFiles(const std::string& realRoot, const std::vector<std::string>& named,
                    const FileIdentity& skip, std::vector<std::string>& extra) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::recursive_directory_iterator it(realRoot, fs::directory_options::skip_permission_denied,
                                      error);
  std::vector<std::string> linkTargets;
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const fs::directory_entry& entry = *it;
    std::error_code statusError;
    const bool link = entry.is_symlink(statusError);
    if (!link && entry.is_directory(statusError)) continue;
    const std::string relative = entry.path().lexically_relative(realRoot).generic_string();
    if (Contains(named, relative)) {
      const std::string target = link ? RealPath(entry.path()) : std::string();
      if (target.size() > realRoot.size() + 1 && target.starts_with(realRoot + "/"))
        linkTargets.push_back(target.substr(realRoot.size() + 1));
      continue;
    }
    struct stat status {};
    if (::lstat(entry.path().c_str(), &status) == 0 &&
        FileIdentity{status.st_dev, status.st_ino} == skip)
      continue;
    extra.push_back(relative);
  }
  std::sort(linkTargets.begin(), linkTargets.end());
  std::erase_if(extra, [&](const std::string& path) { return Contains(linkTargets, path); });
  std::sort(extra.begin(), extra.end());
}

}  // namespace

void CheckPackageFiles(std::span<const std::uint8_t> content, const PackageCheck& check,
                       VerifyReport::Files& files, WatchedFiles& watched) {
  files.root = check.root;
  FileDescriptor directory;
  std::string realRoot;
  if (!OpenPackageDirectory(check.root, directory, realRoot, files.error)) return;
  HashPlan plan;
  if (!PlanFromContent(content, files, plan)) return;
  files.checked = true;
  for (const auto& [wanted, group] : plan.groups)
    HashPackageFiles(group, wanted, directory.Get(), check.hashJobs, files.entries, watched);
  ListExtraFiles(realRoot, NamedPaths(std::move(plan)), check.skip, files.extra);
}

}  // namespace brevick
