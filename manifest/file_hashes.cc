// manifest/file_hashes.cc: module file digests for the release manifest.
#include "manifest/file_hashes.h"

#include <array>
#include <string_view>

#include "base/file_io.h"
#include "base/report.h"
#include "base/stage_result.h"
#include "base/utf8.h"
#include "manifest/manifest_tree.h"
#include "manifest/source_path.h"
#include "xml/xmldoc.h"

namespace brevick {
namespace {

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

// One dependency: returns whether its file was hashed.
bool HashDependency(xmldoc::Element& dependency, const HashSettings& settings,
                    const std::wstring& subPath) {
  const std::string file = dependency.GetOrCreateAttribute("file").GetText();
  const std::wstring baseDirectory = BaseDirectory(dependency, settings, subPath);
  // The build location never reaches the release manifest, hashed or not.
  dependency.RemoveChildElement("signInfo", 0);

  const std::wstring filePath = JoinPath(baseDirectory, ToWide(file));
  FileIdentity identity;
  const std::optional<Md5Digest> digest = ComputeFileMd5(filePath, &identity);
  if (!digest) {
    RecordError(L"Error generating MD5 for '" + filePath + L"'. Check that it exists");
    return false;
  }
  if (settings.hashedFiles != nullptr) settings.hashedFiles->push_back(identity);
  ProgressLine(L"Generated MD5 for " + filePath);
  // Without an `md5` element the digest has nowhere to go and is dropped.
  xmldoc::Element& md5 = dependency.GetChildElement("md5");
  if (!md5.IsNull())
    SetAttributeValue(md5.GetOrCreateAttribute("value"), "0x" + DigestToText(*digest));
  return true;
}

}  // namespace

StageResult GenerateFileHashes(xmldoc::Document& document, const HashSettings& settings) {
  ProgressLine(L"Generating dependencing hashes for module files");  // sic: release scripts match
                                                                     // the line as it stands
  int failureCount = 0;
  xmldoc::Element& modules =
      document.GetRoot().GetChildElement("package").GetChildElement("modules");
  for (xmldoc::Element* module : ChildElements(modules)) {
    ProgressLine(L"Generating hashes for files in module '" + WideAttributeValue(*module, "name") +
                 L"'.");
    // Both are created when absent and so appear, empty, in the output.
    const std::wstring subPath = ToWide(module->GetOrCreateAttribute("subPath").GetText());
    xmldoc::Element& dependencies = module->GetOrCreateChildElement("dependencies", 0);
    for (xmldoc::Element* dependency : ChildElements(dependencies)) {
      if (!HashDependency(*dependency, settings, subPath)) ++failureCount;
    }
  }
  return failureCount > 0 ? StageResult::kHashingFailed : StageResult::kGoOn;
}

std::optional<Md5Digest> ComputeFileMd5(const std::wstring& path, FileIdentity* identity) {
  // The conversion stops at a NUL, which would name some other file.
  if (path.find(L'\0') != std::wstring::npos) return std::nullopt;
  // Only a regular file is hashed: a FIFO would hold the run and a device
  // such as /dev/zero would never end. Either is reported like a missing file.
  FileDescriptor file;
  const FileResult opened = OpenRegularFile(AT_FDCWD, OpenablePath(path), file);
  if (!opened.Ok()) return std::nullopt;
  if (identity != nullptr) *identity = opened.identity;

  Md5 md5;
  std::array<std::uint8_t, kHashReadBlockSizeInBytes> block;
  for (;;) {
    const ssize_t got = ReadFully(file.Get(), block.data(), block.size());
    if (got < 0) return std::nullopt;
    md5.Update(block.data(), static_cast<std::size_t>(got));
    if (static_cast<std::size_t>(got) < block.size()) break;  // the end of the file
  }
  return md5.Final();
}

std::string DigestToText(const Md5Digest& digest) {
  static constexpr std::array<std::array<char, 2>, 256> kHexPairs = [] {
    constexpr char kDigits[] = "0123456789abcdef";
    std::array<std::array<char, 2>, 256> pairs{};
    for (int value = 0; value < 256; ++value)
      pairs[value] = {kDigits[value >> 4], kDigits[value & 15]};
    return pairs;
  }();
  std::string text;
  text.reserve(2 * digest.size());
  for (const std::uint8_t byte : digest) text.append(kHexPairs[byte].data(), 2);
  return text;
}

}  // namespace brevick
