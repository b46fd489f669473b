// manifest/manifest_tree.h: the few ways the manifest stages walk and edit the
// xmldoc tree, so that every stage reads "element child" and "attribute value"
// the same way.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "xml/xmldoc.h"

namespace brevick {

// The element children of `parent` in document order; text, comments, PIs
// and CDATA sections between them are skipped.
std::vector<xmldoc::Element*> ChildElements(xmldoc::NodeContainer& parent);

// The first element child of `parent`, whatever its name; the null element
// when there is none.
xmldoc::Element& FirstChildElement(xmldoc::NodeContainer& parent);

// The value of the attribute as wide text; empty when it is absent.
std::wstring WideAttributeValue(const xmldoc::Element& element, std::string_view name);

}  // namespace brevick
