// verify/package_check.cc
#include "verify/package_check.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>
#include <unordered_set>

#include "base/utf8.h"
#include "manifest/file_digests.h"
#include "manifest/manifest_tree.h"
#include "verify/package_hashes.h"
#include "xml/parser.h"
#include "xml/xmldoc.h"

namespace brevick {
namespace {

// subPath + separator + file, or the file alone when there is no subPath.
std::string JoinManifestPath(const std::string& subPath, const std::string& file, char separator) {
  if (subPath.empty()) return file;
  std::string joined = subPath;
  joined += separator;
  joined += file;
  return joined;
}

constexpr std::string_view kHexPrefix = "0x";

// A lookup of the real path; empty with errno set when it fails.
std::string RealPath(const std::string& path) {
  const std::unique_ptr<char, decltype(&free)> resolved(::realpath(path.c_str(), nullptr), free);
  return resolved ? std::string(resolved.get()) : std::string();
}

bool IsBelow(const std::string& path, const std::string& root) {
  if (root == "/") return true;
  return path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
         path[root.size()] == '/';
}

// The manifest's relative path in "/" form with "." and empty parts dropped
// and ".." applied; nothing when it is absolute or climbs above the root.
std::optional<std::string> RelativePackagePath(const std::string& manifestPath) {
  std::string path = manifestPath;
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path.empty() || path[0] == '/') return std::nullopt;
  // "C:/..." names a drive: absolute for the manifest's author.
  if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':')
    return std::nullopt;
  if (path.find('\0') != std::string::npos) return std::nullopt;
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string part = path.substr(start, end - start);
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
  for (const std::string& part : parts) {
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

struct PendingFile {
  std::size_t entry;  // index into the report's entries
  std::size_t job;    // index into the hash jobs
};

void ListExtraFiles(const std::string& realRoot, const std::unordered_set<std::string>& named,
                    const FileIdentity& skip, std::vector<std::string>& extra) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::recursive_directory_iterator it(realRoot, fs::directory_options::skip_permission_denied,
                                      error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const fs::directory_entry& entry = *it;
    std::error_code statusError;
    if (entry.is_directory(statusError) && !entry.is_symlink(statusError)) continue;
    const std::string relative = entry.path().lexically_relative(realRoot).generic_string();
    if (named.contains(relative)) continue;
    struct stat status {};
    if (::lstat(entry.path().c_str(), &status) == 0 &&
        FileIdentity{status.st_dev, status.st_ino} == skip) {
      continue;
    }
    extra.push_back(relative);
  }
  std::sort(extra.begin(), extra.end());
}

}  // namespace

void CheckPackageFiles(std::span<const std::uint8_t> content, const std::string& root,
                       const FileIdentity& skip, int hashJobs, VerifyReport::Files& files) {
  files.root = root;
  const std::string realRoot = RealPath(root);
  struct stat rootStatus {};
  if (realRoot.empty() || ::stat(realRoot.c_str(), &rootStatus) != 0) {
    files.error = "the package directory cannot be opened: " + FileErrorText(errno);
    return;
  }
  if (!S_ISDIR(rootStatus.st_mode)) {
    files.error = "the package directory is not a directory";
    return;
  }
  std::unique_ptr<xmldoc::Document> document;
  try {
    document =
        xmldoc::Parser().Parse(reinterpret_cast<const char*>(content.data()), content.size());
  } catch (const xmldoc::ParsingException& error) {
    files.error = std::string("the signed content is not XML: ") + error.GetErrorText() +
                  " at line " + std::to_string(error.line) + ", column " +
                  std::to_string(error.column);
    return;
  }
  files.checked = true;

  std::vector<PackageFileHash> jobs;
  std::vector<PendingFile> pending;
  std::unordered_set<std::string> named;
  xmldoc::Element& modules =
      document->GetRoot().GetChildElement("package").GetChildElement("modules");
  // Signed XML that is no manifest must not pass as a package whose files
  // all match.
  if (modules.IsNull()) {
    files.checked = false;
    files.error = "the signed content is not a manifest: it has no package modules";
    return;
  }
  for (xmldoc::Element* module : ChildElements(modules)) {
    const std::string moduleName = module->FindAttribute("name").GetText();
    const std::string subPath = module->FindAttribute("subPath").GetText();
    for (xmldoc::Element* dependency : ChildElements(module->GetChildElement("dependencies"))) {
      FileEntry entry;
      entry.module = moduleName;
      const std::string file = dependency->FindAttribute("file").GetText();
      entry.path = JoinManifestPath(subPath, file, '\\');
      PackageFileHash job;
      for (std::size_t kind = 0; kind < static_cast<std::size_t>(DigestKind::kCount); ++kind) {
        const xmldoc::Attribute& value =
            dependency->GetChildElement(DigestKindName(static_cast<DigestKind>(kind)))
                .FindAttribute("value");
        if (value.IsNull() || value.GetText().empty()) continue;
        entry.digests.push_back(
            {static_cast<DigestKind>(kind), NormaliseDigestText(value.GetText()), {}});
        job.wanted[kind] = true;
      }
      const std::optional<std::string> relative =
          RelativePackagePath(JoinManifestPath(subPath, file, '/'));
      if (!relative) {
        entry.status = FileStatus::kOutside;
        files.entries.push_back(std::move(entry));
        continue;
      }
      named.insert(*relative);
      const std::string lexical = realRoot + "/" + *relative;
      const std::string real = RealPath(lexical);
      if (real.empty()) {
        const int error = errno;
        entry.status =
            error == ENOENT || error == ENOTDIR ? FileStatus::kMissing : FileStatus::kUnreadable;
        if (entry.status == FileStatus::kUnreadable) entry.detail = FileErrorText(error);
        files.entries.push_back(std::move(entry));
        continue;
      }
      if (!IsBelow(real, realRoot)) {
        entry.status = FileStatus::kOutside;
        files.entries.push_back(std::move(entry));
        continue;
      }
      // A link inside the package names its target too.
      named.insert(real.substr(realRoot.size() + (realRoot == "/" ? 0 : 1)));
      job.path = real;
      pending.push_back({files.entries.size(), jobs.size()});
      jobs.push_back(std::move(job));
      files.entries.push_back(std::move(entry));
    }
  }

  HashPackageFiles(jobs, hashJobs);

  for (const PendingFile& item : pending) {
    FileEntry& entry = files.entries[item.entry];
    const PackageFileHash& job = jobs[item.job];
    if (job.changedWhileRead) {
      // Neither the old content nor the new one was seen whole: not a pass.
      entry.status = FileStatus::kUnreadable;
      entry.detail = ToUtf8(HashFailureReason(FileHashOutcome::kChanged));
      continue;
    }
    if (job.error != 0) {
      entry.status = job.error == ENOENT ? FileStatus::kMissing : FileStatus::kUnreadable;
      if (entry.status == FileStatus::kUnreadable) entry.detail = FileErrorText(job.error);
      continue;
    }
    if (entry.digests.empty()) {
      entry.status = FileStatus::kNoDigest;
      continue;
    }
    entry.status = FileStatus::kOk;
    for (DigestComparison& digest : entry.digests) {
      digest.actual = job.hex[static_cast<std::size_t>(digest.kind)];
      if (digest.actual != digest.expected) entry.status = FileStatus::kDiffers;
    }
  }
  ListExtraFiles(realRoot, named, skip, files.extra);
}

}  // namespace brevick
