// tests/support/xml_parse_helpers.cc
#include "tests/support/xml_parse_helpers.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "xml/element.h"
#include "xml/parser.h"
#include "xml/reference.h"
#include "xml/text_nodes.h"

namespace brevick::testing {

std::unique_ptr<xmldoc::Document> ParseOrFail(std::string_view xml) {
  try {
    return xmldoc::Parser().Parse(xml.data(), xml.size());
  } catch (const xmldoc::ParsingException& e) {
    ADD_FAILURE() << "refused with code " << static_cast<int>(e.errorCode) << " ("
                  << e.GetErrorText() << ") at " << e.line << ":" << e.column;
    return nullptr;
  }
}

void ExpectParseFault(std::string_view xml, xmldoc::ParseError code, int line, int column) {
  SCOPED_TRACE(::testing::PrintToString(std::string(xml)));
  try {
    xmldoc::Parser().Parse(xml.data(), xml.size());
    ADD_FAILURE() << "parsed, but should have been refused";
  } catch (const xmldoc::ParsingException& e) {
    EXPECT_EQ(static_cast<int>(code), static_cast<int>(e.errorCode)) << e.GetErrorText();
    EXPECT_EQ(line < 0 ? e.line : line, e.line);  // negative: not checked
    EXPECT_EQ(column < 0 ? e.column : column, e.column);
  }
}

namespace {

void Describe(const xmldoc::Node& node, std::string& out);

// The nodes between `open` and `close`; nothing at all when there are none.
void DescribeAll(const auto& nodes, const char* open, std::string_view separator, const char* close,
                 std::string& out) {
  if (nodes.empty() && *open != '\0') return;
  out += open;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (i > 0) out += separator;
    Describe(*nodes[i], out);
  }
  out += close;
}

void Describe(const xmldoc::Node& node, std::string& out) {
  const std::string quoted = '"' + node.GetValue() + '"';
  if (node.IsType(xmldoc::kElementType)) {
    const auto& element = static_cast<const xmldoc::Element&>(node);
    out += element.GetName();
    DescribeAll(element.GetAttributes(), "(", " ", ")", out);
    DescribeAll(element.GetChildren(), "[", " ", "]", out);
  } else if (node.IsType(xmldoc::kAttributeType)) {
    const auto& attribute = static_cast<const xmldoc::Attribute&>(node);
    out += attribute.GetName() + (attribute.IsUnquoted() ? "=~" : "=");
    DescribeAll(attribute.GetChildren(), "", "", "", out);
  } else if (node.IsType(xmldoc::kDocumentType)) {
    DescribeAll(static_cast<const xmldoc::Document&>(node).GetChildren(), "", " ", "", out);
  } else if (node.IsType(xmldoc::kReferenceType) && node.GetName().empty()) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "&#x%X;",
                  static_cast<unsigned>(static_cast<const xmldoc::CharRef&>(node).GetCodePoint()));
    out += hex;
  } else if (node.IsType(xmldoc::kReferenceType)) {
    out += '&' + node.GetName() + ';';
  } else {
    out += node.IsType(xmldoc::kTextType)      ? quoted
           : node.IsType(xmldoc::kCDataType)   ? "cdata" + quoted
           : node.IsType(xmldoc::kCommentType) ? "#" + quoted
           : node.IsType(xmldoc::kPiType)      ? '?' + node.GetName() + quoted
                                               : "?unknown";
  }
}

}  // namespace

std::string DescribeTree(const xmldoc::Node& node) {
  std::string out;
  Describe(node, out);
  return out;
}

}  // namespace brevick::testing
