// xml/element.cc: elements, attributes and their null objects.
#include "xml/element.h"

#include <utility>

#include "xml/writer.h"

namespace xmldoc {

// ---- Element

Element::Element(NodeContainer* parent, std::string name)
    : NodeContainer(parent, std::move(name)) {}

Element::Element(NullTag tag) : NodeContainer(tag, nullptr) {
  SetParent(this);  // the null element is its own parent
}

Element::~Element() = default;

std::string Element::GetValue() const { return {}; }

std::string Element::GetText() const { return GetContainerText(); }

std::unique_ptr<Node> Element::Clone(NodeContainer* parent) const { return CloneTree(parent); }

void Element::Write(WriteContext& context) const { WriteTree(*this, context); }

const Attribute& Element::FindAttribute(std::string_view name) const {
  for (const auto& attribute : attributes) {
    if (attribute->GetName() == name) return *attribute;
  }
  return NullAttribute();
}

Attribute& Element::FindAttribute(std::string_view name) {
  return const_cast<Attribute&>(std::as_const(*this).FindAttribute(name));
}

Attribute& Element::GetOrCreateAttribute(std::string_view name) {
  if (IsNull()) return NullAttribute();
  Attribute& found = FindAttribute(name);
  if (!found.IsNull()) return found;
  return AddAttribute(std::make_unique<Attribute>(this, std::string(name)));
}

Attribute& Element::AddAttribute(std::unique_ptr<Attribute> attribute) {
  if (IsNull() || attribute == nullptr) return NullAttribute();
  attribute->SetParent(this);
  attributes.push_back(std::move(attribute));
  return *attributes.back();
}

bool Element::RemoveAttribute(std::string_view name) {
  if (IsNull()) return false;
  for (auto it = attributes.begin(); it != attributes.end(); ++it) {
    if ((*it)->GetName() != name) continue;
    std::unique_ptr<Attribute> removed = std::move(*it);
    attributes.erase(it);
    return true;
  }
  return false;
}

void Element::RemoveAllAttributes() {
  if (IsNull()) return;
  AttributeList removed = std::move(attributes);
  attributes.clear();
}

void Element::SetPreserveSpace(bool preserve) {
  if (!IsNull()) preserveSpace = preserve;
}

void Element::NormaliseText(std::string& text) const {
  if (preserveSpace) return;
  CollapseSpaces(text);
  TrimSpaces(text);
}

std::unique_ptr<NodeContainer> Element::CloneEmpty(NodeContainer* parent) const {
  return std::make_unique<Element>(parent, GetName());
}

// ---- Attribute

Attribute::Attribute(NodeContainer* parent, std::string name)
    : NodeContainer(parent, std::move(name)) {}

Attribute::Attribute(NullTag tag) : NodeContainer(tag, &NullElement()) {}

Attribute::~Attribute() = default;

std::string Attribute::GetValue() const { return GetText(); }

std::string Attribute::GetText() const { return GetContainerText(); }

std::unique_ptr<Node> Attribute::Clone(NodeContainer* parent) const { return CloneTree(parent); }

void Attribute::Write(WriteContext& context) const { WriteTree(*this, context); }

void Attribute::SetValue(std::string_view value) {
  if (IsNull()) return;
  RemoveAllChildren();
  AddText(value);
}

void Attribute::SetUnquoted(bool withoutQuotes) {
  if (!IsNull()) unquoted = withoutQuotes;
}

std::unique_ptr<NodeContainer> Attribute::CloneEmpty(NodeContainer* parent) const {
  auto copy = std::make_unique<Attribute>(parent, GetName());
  copy->unquoted = unquoted;
  return copy;
}

// ---- The null objects: allocated once and never freed, so that no static
// destructor can pull them from under a tree that outlives main.

Element& NullElement() {
  static Element* const instance = new Element(Element::NullTag{});
  return *instance;
}

Attribute& NullAttribute() {
  static Attribute* const instance = new Attribute(Attribute::NullTag{});
  return *instance;
}

}  // namespace xmldoc
