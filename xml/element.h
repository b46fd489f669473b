// xml/element.h: elements and attributes, and their shared null objects.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xml/node.h"

namespace xmldoc {

class Attribute;

// An element: its name is the tag name; it owns its attributes and children.
class Element : public NodeContainer {
 public:
  // Reads like std::vector<std::unique_ptr<Attribute>> (see owned_list.h).
  using AttributeList = OwnedList<Attribute>;

  // No attributes, no children, preserveSpace false. nullptr parent: the
  // null element.
  Element(NodeContainer* parent, std::string name);
  ~Element() override;

  // Empty.
  std::string GetValue() const override;
  // The children's text joined in order; then, unless preserveSpace is set,
  // whitespace runs collapsed to one space and the ends trimmed.
  std::string GetText() const override;
  bool IsType(int typeId) const override { return typeId == kElementType; }
  // Children first, then attributes, in order; the copy's preserveSpace is
  // false whatever the source's.
  std::unique_ptr<Node> Clone(NodeContainer* parent) const override;
  void Write(WriteContext& context) const override;

  // The attributes in order.
  const AttributeList& GetAttributes() const { return attributes; }
  // The first attribute named `name`; the null attribute when there is none.
  const Attribute& FindAttribute(std::string_view name) const;
  Attribute& FindAttribute(std::string_view name);
  // The attribute named `name`, appended empty after the others when missing.
  // On a null object: the null attribute, and nothing is created.
  Attribute& GetOrCreateAttribute(std::string_view name);
  // Appends `attribute` to the attribute list (duplicates are kept) and
  // takes ownership; its parent becomes this element. Returns it; on a null
  // object the attribute is destroyed and the null attribute returned.
  Attribute& AddAttribute(std::unique_ptr<Attribute> attribute);
  // Makes room for `count` attributes in all; changes nothing a caller sees.
  void ReserveAttributes(std::size_t count) {
    if (!IsNull()) attributes.reserve(count);
  }
  // Removes and destroys the first attribute named `name`; false when there
  // is none, or on a null object.
  bool RemoveAttribute(std::string_view name);
  // Destroys every attribute. Nothing on a null object.
  void RemoveAllAttributes();

  // Set by the parser from xml:space; only GetText reads it. Ignored on the
  // null element.
  bool IsPreserveSpace() const { return preserveSpace; }
  void SetPreserveSpace(bool preserve);

 protected:
  void NormaliseText(std::string& text) const override;
  std::unique_ptr<NodeContainer> CloneEmpty(NodeContainer* parent) const override;

 private:
  friend Element& NullElement();
  friend class NodeContainer;
  explicit Element(NullTag);

  AttributeList attributes;
};

// An attribute: its name is the attribute name, its value is its children
// (Text and reference nodes, as the parser builds them).
class Attribute : public NodeContainer {
 public:
  // Empty value, unquoted false. nullptr parent: the null element.
  Attribute(NodeContainer* parent, std::string name);
  ~Attribute() override;

  // The same as GetText.
  std::string GetValue() const override;
  // The children's text joined in order, whitespace untouched.
  std::string GetText() const override;
  bool IsType(int typeId) const override { return typeId == kAttributeType; }
  std::unique_ptr<Node> Clone(NodeContainer* parent) const override;
  // name="value", or name=value when unquoted.
  void Write(WriteContext& context) const override;

  // Replaces the whole value with `value` (one Text); whether it is written
  // with quotes stays as it was. Nothing on the null attribute.
  void SetValue(std::string_view value);

  // True when the value stood without quotes in the source; it is then
  // written back without quotes. Ignored on the null attribute.
  bool IsUnquoted() const { return unquoted; }
  void SetUnquoted(bool withoutQuotes);

 protected:
  std::unique_ptr<NodeContainer> CloneEmpty(NodeContainer* parent) const override;

 private:
  friend Attribute& NullAttribute();
  explicit Attribute(NullTag);
};

// The shared null objects: built on first use, never destroyed, never
// changed. NullElement is its own parent and the parent of the other four.
Element& NullElement();
Attribute& NullAttribute();

}  // namespace xmldoc
