// tests/support/manifest_helpers.h: manifests from text and trees back to
// text, for the manifest tests.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/xml_parse_helpers.h"
#include "xml/xmldoc.h"

namespace brevick::testing {

// Parses `xml`; a malformed test input fails the test (and yields nullptr).
inline constexpr auto& ParseXml = ParseOrFail;

// A one-module manifest whose one module file is `file`, relative to the
// manifest, with an empty md5 element for the run to fill in.
std::string ManifestNaming(const std::string& file);

// The document (or node) as compact XML without the declaration, so that a
// whole tree can be compared in one line.
std::string CompactXml(const xmldoc::Node& node);

// Changes the working directory while it lives and restores it afterwards.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::filesystem::path& directory);
  ~WorkingDirectory();
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  std::filesystem::path previous;
};

}  // namespace brevick::testing
