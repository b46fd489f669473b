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

void DescribeChildren(const xmldoc::NodeContainer& container, std::string_view separator,
                      std::string& out) {
  bool first = true;
  for (const auto& child : container.GetChildren()) {
    if (!first) out += separator;
    first = false;
    Describe(*child, out);
  }
}

void Describe(const xmldoc::Node& node, std::string& out) {
  if (node.IsType(xmldoc::kElementType)) {
    const auto& element = static_cast<const xmldoc::Element&>(node);
    out += element.GetName();
    if (!element.GetAttributes().empty()) {
      out += '(';
      bool first = true;
      for (const auto& attribute : element.GetAttributes()) {
        if (!first) out += ' ';
        first = false;
        out += attribute->GetName();
        out += attribute->IsUnquoted() ? "=~" : "=";
        DescribeChildren(*attribute, "", out);
      }
      out += ')';
    }
    if (!element.IsEmpty()) {
      out += '[';
      DescribeChildren(element, " ", out);
      out += ']';
    }
  } else if (node.IsType(xmldoc::kDocumentType)) {
    DescribeChildren(static_cast<const xmldoc::Document&>(node), " ", out);
  } else if (node.IsType(xmldoc::kTextType)) {
    out += '"' + node.GetValue() + '"';
  } else if (node.IsType(xmldoc::kCDataType)) {
    out += "cdata\"" + node.GetValue() + '"';
  } else if (node.IsType(xmldoc::kCommentType)) {
    out += "#\"" + node.GetValue() + '"';
  } else if (node.IsType(xmldoc::kPiType)) {
    out += '?' + node.GetName() + '"' + node.GetValue() + '"';
  } else if (node.IsType(xmldoc::kReferenceType)) {
    if (node.GetName().empty()) {
      char hex[16];
      std::snprintf(
          hex, sizeof hex, "%X",
          static_cast<unsigned>(static_cast<const xmldoc::CharRef&>(node).GetCodePoint()));
      out += std::string("&#x") + hex + ';';
    } else {
      out += '&' + node.GetName() + ';';
    }
  } else {
    out += "?unknown";
  }
}

}  // namespace

std::string DescribeTree(const xmldoc::Node& node) {
  std::string out;
  Describe(node, out);
  return out;
}

}  // namespace brevick::testing
