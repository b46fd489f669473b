// manifest/manifest_tree.cc
#include "manifest/manifest_tree.h"

#include "base/utf8.h"

namespace brevick {

std::vector<xmldoc::Element*> ChildElements(xmldoc::NodeContainer& parent) {
  std::vector<xmldoc::Element*> elements;
  for (const std::unique_ptr<xmldoc::Node>& child : parent.GetChildren()) {
    if (child->IsType(xmldoc::kElementType))
      elements.push_back(static_cast<xmldoc::Element*>(child.get()));
  }
  return elements;
}

xmldoc::Element& FirstChildElement(xmldoc::NodeContainer& parent) {
  for (const std::unique_ptr<xmldoc::Node>& child : parent.GetChildren()) {
    if (child->IsType(xmldoc::kElementType)) return static_cast<xmldoc::Element&>(*child);
  }
  return xmldoc::NullElement();
}

std::wstring WideAttributeValue(const xmldoc::Element& element, std::string_view name) {
  return ToWide(element.FindAttribute(name).GetText());
}

}  // namespace brevick
