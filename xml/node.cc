// xml/node.cc: Node and NodeContainer: ownership, lookups, editing, and the
// heap-stacked walks behind destruction, GetText and Clone.
#include "xml/node.h"

#include <utility>

#include "xml/document.h"
#include "xml/element.h"
#include "xml/node_arena.h"
#include "xml/text_nodes.h"

namespace xmldoc {

void CollapseSpaces(std::string& text) {
  std::size_t out = 0;
  bool inRun = false;
  for (const char byte : text) {
    if (IsXmlSpace(byte)) {
      if (!inRun) text[out++] = ' ';
      inRun = true;
    } else {
      text[out++] = byte;
      inRun = false;
    }
  }
  text.resize(out);
}

void TrimSpaces(std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && IsXmlSpace(text[end - 1])) --end;
  std::size_t begin = 0;
  while (begin < end && IsXmlSpace(text[begin])) ++begin;
  text.erase(end);
  text.erase(0, begin);
}

// ---- Node

Node::Node(NodeContainer* parent) : parentContainer(parent != nullptr ? parent : &NullElement()) {}

Node::Node(NullTag, NodeContainer* parent) : parentContainer(parent), isNull(true) {}

Node::~Node() = default;

void Node::operator delete(Node* node, std::destroying_delete_t) {
  const std::uint16_t slot = node->arenaSlot;
  node->~Node();
  if (slot != 0) {
    NodeArena::Release(node, slot);
  } else {
    ::operator delete(node);
  }
}

const std::string& Node::GetName() const {
  static const std::string* const empty = new std::string();  // never freed, like the null objects
  return *empty;
}

void Node::SetParent(NodeContainer* newParent) {
  parentContainer = newParent != nullptr ? newParent : &NullElement();
}

// ---- NodeContainer

NodeContainer::NodeContainer(NodeContainer* parent, std::string name)
    : Node(parent), nodeName(std::move(name)) {
  isContainer = true;
}

NodeContainer::NodeContainer(NullTag tag, NodeContainer* parent) : Node(tag, parent) {
  isContainer = true;
}

// Each descendant container is emptied before it dies, so every destructor
// that runs below this one finds no children and returns at once: the depth
// of the tree never reaches the call stack.
NodeContainer::~NodeContainer() {
  ChildList pending = std::move(children);
  while (!pending.empty()) {
    std::unique_ptr<Node> node = std::move(pending.back());
    pending.pop_back();
    if (!node->isContainer) continue;
    auto& container = static_cast<NodeContainer&>(*node);
    container.trailingIsText = false;
    if (container.IsType(kDocumentType)) static_cast<Document&>(container).root = nullptr;
    if (container.IsType(kElementType)) {
      // Attributes may hold anything AddChild was given, elements included.
      for (auto& attribute : static_cast<Element&>(container).attributes) {
        pending.push_back(std::move(attribute));
      }
      static_cast<Element&>(container).attributes.clear();
    }
    for (auto& child : container.children) pending.push_back(std::move(child));
    container.children.clear();
  }
}

void NodeContainer::Write(WriteContext& context) const {
  for (const auto& child : children) child->Write(context);
}

void NodeContainer::AddChild(std::unique_ptr<Node> child) {
  if (IsNull() || child == nullptr) return;  // dropped: the null objects stay empty
  child->parentContainer = this;
  trailingIsText = child->IsType(kTextType);
  children.push_back(std::move(child));
}

void NodeContainer::AddChildren(std::vector<std::unique_ptr<Node>>& nodes) {
  if (!IsNull()) {
    children.reserve(children.size() + nodes.size());
    const Node* last = nullptr;
    for (std::unique_ptr<Node>& node : nodes) {
      if (node == nullptr) continue;
      node->parentContainer = this;
      last = node.get();
      children.push_back(std::move(node));
    }
    // Only the last node added decides, as with AddChild.
    if (last != nullptr) trailingIsText = last->IsType(kTextType);
  }
  nodes.clear();
}

void NodeContainer::AddText(std::string_view text) {
  if (IsNull()) return;
  if (Text* const trailing = TrailingText()) {
    trailing->AppendText(text);
    return;
  }
  AddChild(Text::Create(this, text));
}

namespace {

// Position of the index-th child matching name and type, or the list's size
// when there are fewer. One pass over the children.
std::size_t FindPosition(const NodeContainer::ChildList& children, std::string_view name,
                         std::size_t index, int typeId) {
  std::size_t seen = 0;
  for (std::size_t position = 0; position < children.size(); ++position) {
    const Node& child = *children[position];
    if (child.GetName() != name || !child.IsType(typeId)) continue;
    if (seen == index) return position;
    ++seen;
  }
  return children.size();
}

// Position of `child` itself among the children, or the list's size when it
// is not one of them.
std::size_t PositionOf(const NodeContainer::ChildList& children, const Node& child) {
  for (std::size_t position = 0; position < children.size(); ++position) {
    if (children[position].get() == &child) return position;
  }
  return children.size();
}

}  // namespace

const Node& NodeContainer::FindChild(std::string_view name, std::size_t index, int typeId) const {
  const std::size_t position = FindPosition(children, name, index, typeId);
  if (position == children.size()) return NullElement();
  return *children[position];
}

Node& NodeContainer::FindChild(std::string_view name, std::size_t index, int typeId) {
  return const_cast<Node&>(std::as_const(*this).FindChild(name, index, typeId));
}

const Element& NodeContainer::GetChildElement(std::string_view name, std::size_t index) const {
  const Node& found = FindChild(name, index, kElementType);
  if (found.IsNull()) return NullElement();
  return static_cast<const Element&>(found);  // only elements answer kElementType
}

Element& NodeContainer::GetChildElement(std::string_view name, std::size_t index) {
  return const_cast<Element&>(std::as_const(*this).GetChildElement(name, index));
}

Element& NodeContainer::GetOrCreateChildElement(std::string_view name, std::size_t index) {
  if (IsNull()) return NullElement();
  std::size_t existing = 0;
  for (const auto& child : children) {
    if (child->GetName() != name || !child->IsType(kElementType)) continue;
    if (existing == index) return static_cast<Element&>(*child);
    ++existing;
  }
  // Short of index + 1 matches: append the missing ones; the last is wanted.
  Element* created = nullptr;
  for (; existing <= index; ++existing) {
    auto element = std::make_unique<Element>(this, std::string(name));
    created = element.get();
    AddChild(std::move(element));
  }
  return *created;
}

bool NodeContainer::RemoveChildElement(std::string_view name, std::size_t index) {
  if (IsNull()) return false;
  const std::size_t position = FindPosition(children, name, index, kElementType);
  if (position == children.size()) return false;
  ForgetChild(*children[position]);
  std::unique_ptr<Node> removed = std::move(children[position]);
  children.erase(children.begin() + static_cast<std::ptrdiff_t>(position));
  return true;  // `removed` dies here, after the list is consistent again
}

void NodeContainer::RemoveAllChildren() {
  if (IsNull()) return;
  for (const auto& child : children) ForgetChild(*child);
  ChildList removed = std::move(children);
  children.clear();
}

bool NodeContainer::InsertChild(std::unique_ptr<Node> child, const Node& anchor, Place place) {
  const std::size_t at = PositionOf(children, anchor);
  if (IsNull() || child == nullptr || at == children.size()) return false;
  const std::size_t position = place == Place::kBefore ? at : at + 1;
  child->parentContainer = this;
  // Only a node that becomes the last child changes what AddText extends.
  if (position == children.size()) trailingIsText = child->IsType(kTextType);
  children.insert(position, std::move(child));
  return true;
}

bool NodeContainer::MoveChild(Node& node, const Node& anchor, Place place) {
  if (IsNull() || &node == &anchor || PositionOf(children, anchor) == children.size()) return false;
  for (const NodeContainer* above = this; !above->IsNull(); above = &above->GetParent()) {
    if (above == &node) return false;
  }
  NodeContainer& from = node.GetParent();
  const std::size_t at = PositionOf(from.children, node);
  if (at == from.children.size()) return false;
  from.ForgetChild(node);
  std::unique_ptr<Node> taken = std::move(from.children[at]);
  from.children.erase(from.children.begin() + static_cast<std::ptrdiff_t>(at));
  return InsertChild(std::move(taken), anchor, place);
}

Element& Node::NextSiblingElement() const {
  const NodeContainer::ChildList& siblings = GetParent().GetChildren();
  for (std::size_t at = PositionOf(siblings, *this) + 1; at < siblings.size(); ++at) {
    if (siblings[at]->IsType(kElementType)) return static_cast<Element&>(*siblings[at]);
  }
  return NullElement();
}

Element& Node::PreviousSiblingElement() const {
  const NodeContainer::ChildList& siblings = GetParent().GetChildren();
  const std::size_t position = PositionOf(siblings, *this);
  if (position == siblings.size()) return NullElement();
  for (std::size_t at = position; at-- > 0;) {
    if (siblings[at]->IsType(kElementType)) return static_cast<Element&>(*siblings[at]);
  }
  return NullElement();
}

Text* NodeContainer::TrailingText() const {
  return trailingIsText ? static_cast<Text*>(children.back().get()) : nullptr;
}

// Only the last child can be the trailing Text, and once it is gone the
// child before it must not become it: only the next AddChild sets the flag.
void NodeContainer::ForgetChild(const Node& child) {
  if (trailingIsText && &child == children.back().get()) trailingIsText = false;
}

void NodeContainer::NormaliseText(std::string&) const {}

// One frame per open container; a finished frame's text is normalised by its
// own container and joined onto its parent's.
std::string NodeContainer::GetContainerText() const {
  struct Frame {
    const NodeContainer* container;
    std::size_t next;
    std::string text;
  };
  std::vector<Frame> stack;
  stack.push_back({this, 0, {}});
  for (;;) {
    Frame& frame = stack.back();
    if (frame.next < frame.container->children.size()) {
      const Node& child = *frame.container->children[frame.next++];
      if (child.isContainer) {
        stack.push_back({static_cast<const NodeContainer*>(&child), 0, {}});
      } else if (child.IsType(kTextType)) {
        frame.text += static_cast<const Text&>(child).Content();
      } else {
        frame.text += child.GetText();
      }
      continue;
    }
    frame.container->NormaliseText(frame.text);
    if (stack.size() == 1) return std::move(frame.text);
    std::string finished = std::move(frame.text);
    stack.pop_back();
    stack.back().text += finished;
  }
}

// Copies in the same order as a recursive clone would: children first, depth
// first, then the element's attributes. The order matters only for which
// unresolvable entity name an InvalidRefException reports.
std::unique_ptr<Node> NodeContainer::CloneTree(NodeContainer* parent) const {
  std::unique_ptr<NodeContainer> copy = CloneEmpty(parent);
  struct Frame {
    const NodeContainer* source;
    NodeContainer* copy;
    std::size_t next;
    bool inAttributes;
  };
  std::vector<Frame> stack;
  stack.push_back({this, copy.get(), 0, false});
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.inAttributes) {
      const auto& source = static_cast<const Element&>(*frame.source);
      if (frame.next == source.attributes.size()) {
        stack.pop_back();
        continue;
      }
      const Attribute& attribute = *source.attributes[frame.next++];
      auto& target = static_cast<Element&>(*frame.copy);
      std::unique_ptr<NodeContainer> attributeCopy =
          static_cast<const NodeContainer&>(attribute).CloneEmpty(&target);
      NodeContainer* attributeTarget = attributeCopy.get();
      target.attributes.push_back(
          std::unique_ptr<Attribute>(static_cast<Attribute*>(attributeCopy.release())));
      stack.push_back({&attribute, attributeTarget, 0, false});
      continue;
    }
    if (frame.next == frame.source->children.size()) {
      if (frame.source->IsType(kElementType)) {
        frame.inAttributes = true;
        frame.next = 0;
      } else {
        stack.pop_back();
      }
      continue;
    }
    const Node& child = *frame.source->children[frame.next++];
    NodeContainer* target = frame.copy;
    std::unique_ptr<Node> childCopy;
    NodeContainer* childTarget = nullptr;
    if (child.isContainer) {
      std::unique_ptr<NodeContainer> containerCopy =
          static_cast<const NodeContainer&>(child).CloneEmpty(target);
      childTarget = containerCopy.get();
      childCopy = std::move(containerCopy);
    } else {
      childCopy = child.Clone(target);
    }
    if (frame.source->IsType(kDocumentType) &&
        &child == static_cast<const Document&>(*frame.source).root) {
      static_cast<Document&>(*target).root = static_cast<Element*>(childCopy.get());
    }
    target->AddChild(std::move(childCopy));
    if (childTarget != nullptr) {
      stack.push_back({static_cast<const NodeContainer*>(&child), childTarget, 0, false});
    }
  }
  return copy;
}

}  // namespace xmldoc
