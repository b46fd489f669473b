// tests/support/xml_helpers.h: small builders for xmldoc trees in tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "xml/xmldoc.h"

namespace brevick::testing {

// xmldoc::ToText with the tool's four-blank indentation as the default, as
// most tests want it.
inline std::string WriteToString(const xmldoc::Node& node, const char* indent = "    ",
                                 std::uint32_t flags = 0) {
  return xmldoc::ToText(node, indent, flags);
}

// Appends a new element named `name` to `parent` and returns it.
inline xmldoc::Element& AddElement(xmldoc::NodeContainer& parent, std::string_view name) {
  auto element = std::make_unique<xmldoc::Element>(&parent, std::string(name));
  xmldoc::Element& added = *element;
  parent.AddChild(std::move(element));
  return added;
}

// Appends an attribute whose value is one Text child, as the parser builds it.
inline xmldoc::Attribute& AddAttribute(xmldoc::Element& element, std::string_view name,
                                       std::string_view value) {
  auto attribute = std::make_unique<xmldoc::Attribute>(&element, std::string(name));
  attribute->AddText(value);
  return element.AddAttribute(std::move(attribute));
}

}  // namespace brevick::testing
