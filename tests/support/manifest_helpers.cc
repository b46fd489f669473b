// tests/support/manifest_helpers.cc
#include "tests/support/manifest_helpers.h"

namespace brevick::testing {

std::string ManifestNaming(const std::string& file) {
  return "<dravanePackage><package name=\"P\" id=\"{1}\"><modules>"
         "<module name=\"M\" id=\"{2}\" host=\"UI\"><dependencies>"
         "<dependency file=\"" +
         file +
         "\" entryPoint=\"1\"><destination value=\"local\"/><md5/></dependency>"
         "</dependencies></module></modules></package></dravanePackage>";
}

std::string CompactXml(const xmldoc::Node& node) {
  return xmldoc::ToText(node, nullptr,
                        xmldoc::WriteContext::kCompact | xmldoc::WriteContext::kOmitDeclaration);
}

WorkingDirectory::WorkingDirectory(const std::filesystem::path& directory)
    : previous(std::filesystem::current_path()) {
  std::filesystem::current_path(directory);
}

WorkingDirectory::~WorkingDirectory() {
  std::error_code ignored;
  std::filesystem::current_path(previous, ignored);
}

}  // namespace brevick::testing
