// tests/support/manifest_helpers.cc
#include "tests/support/manifest_helpers.h"

#include <gtest/gtest.h>

#include "xml/parser.h"

namespace brevick::testing {

std::unique_ptr<xmldoc::Document> ParseXml(std::string_view xml) {
  try {
    return xmldoc::Parser().Parse(xml.data(), xml.size());
  } catch (const xmldoc::ParsingException& e) {
    ADD_FAILURE() << "test manifest does not parse: code " << static_cast<int>(e.errorCode)
                  << " at line " << e.line;
    return std::make_unique<xmldoc::Document>();
  }
}

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
