// xml/document.cc: the document node.
#include "xml/document.h"

#include "xml/element.h"
#include "xml/writer.h"

namespace xmldoc {

Document::Document() : NodeContainer(nullptr, "#document") {}

Document::~Document() = default;

std::string Document::GetValue() const { return {}; }

std::string Document::GetText() const { return GetContainerText(); }

std::unique_ptr<Node> Document::Clone(NodeContainer* parent) const { return CloneTree(parent); }

void Document::Write(WriteContext& context) const { WriteTree(*this, context); }

void Document::WriteContent(WriteContext& context) const {
  for (const auto& child : GetChildren()) child->Write(context);
}

const Element& Document::GetRoot() const {
  if (root == nullptr) return NullElement();
  return *root;
}

Element& Document::GetRoot() {
  if (root == nullptr) return NullElement();
  return *root;
}

Element& Document::AddRoot(std::unique_ptr<Element> element) {
  if (element == nullptr) return NullElement();
  Element& added = *element;
  AddChild(std::move(element));
  root = &added;
  return added;
}

void Document::ForgetChild(const Node& child) {
  NodeContainer::ForgetChild(child);
  if (&child == root) root = nullptr;
}

// The document's text is always normalised, whatever its root's xml:space.
void Document::NormaliseText(std::string& text) const {
  CollapseSpaces(text);
  TrimSpaces(text);
}

// The parent is not used: a copied document stands alone.
std::unique_ptr<NodeContainer> Document::CloneEmpty(NodeContainer*) const {
  return std::make_unique<Document>();
}

}  // namespace xmldoc
