// tests/support/xml_parse_helpers.h: parsing shortcuts and a compact picture
// of a parsed tree, so that parser tests state the whole shape in one line.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "xml/document.h"
#include "xml/exception.h"

namespace brevick::testing {

// Parses `xml`; a ParsingException fails the test (with code and position)
// and yields nullptr.
std::unique_ptr<xmldoc::Document> ParseOrFail(std::string_view xml);

// Expects `xml` to be refused with `code` at `line`:`column` (each left
// unchecked when negative), naming the input in a failure.
void ExpectParseFault(std::string_view xml, xmldoc::ParseError code, int line = -1,
                      int column = -1);

// The tree in one line. Element: name, its attributes in parentheses, its
// children in brackets (both left out when there are none). Attribute:
// name=value parts, "=~" when unquoted. Text "...", CDATA cdata"...",
// comment #"...", PI ?target"data", entity reference &name;, character
// reference &#xHEX; of the code point. Children are separated by a blank,
// the parts of an attribute value are not.
//   <a x="1&amp;"><b/> </a>   ->   a(x="1"&amp;"")["" b " "]
std::string DescribeTree(const xmldoc::Node& node);

}  // namespace brevick::testing
