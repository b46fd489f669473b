// xml/node.h: the base of the xmldoc tree: Node, NodeContainer, the type ids
// and the whitespace helpers shared with the writer.
//
// All text in the tree is 8-bit text (UTF-8 for the tool), stored and compared
// byte for byte. Lookups never return a null pointer: when they find nothing
// they return one of five shared null objects (see element.h, text_nodes.h),
// whose own lookups again yield null objects and whose text is empty. The
// null objects never change: every editing operation does nothing on them.
//
// Ownership: a container owns its children, an element its attributes. A
// node's parent is a plain back-pointer; adding a node to a container makes
// that container its parent, so an attached node never points at a dead one.
//
// Trees built in code may be far deeper than anything the parser accepts, so
// destruction, Clone, Write and GetText walk the tree with an explicit stack
// instead of recursing once per level.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "xml/owned_list.h"

namespace xmldoc {

class NodeContainer;
class Element;
class NodeArena;
class WriteContext;

// Node type ids (the DOM node-type numbers; 6 is unused and both
// reference kinds answer 5). Kinds are told apart with IsType, never RTTI.
inline constexpr int kElementType = 1;
inline constexpr int kAttributeType = 2;
inline constexpr int kTextType = 3;
inline constexpr int kCDataType = 4;
inline constexpr int kReferenceType = 5;
inline constexpr int kPiType = 7;
inline constexpr int kCommentType = 8;
inline constexpr int kDocumentType = 9;

// Whitespace in the library is exactly space, tab, CR and LF.
constexpr bool IsXmlSpace(char byte) {
  return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n';
}
// In place: every maximal run of whitespace becomes a single space.
void CollapseSpaces(std::string& text);
// In place: drops leading and trailing whitespace; all-blank text becomes empty.
void TrimSpaces(std::string& text);

class Node {
 public:
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  virtual ~Node();

  // The node's own value, a copy (see each class).
  virtual std::string GetValue() const = 0;
  // The node's text content, a copy: containers join their children's text.
  virtual std::string GetText() const = 0;
  // True exactly when typeId is the class's own type id.
  virtual bool IsType(int typeId) const = 0;
  // Deep copy under `parent` (nullptr: the null element), owned by the caller.
  // Throws InvalidRefException when the subtree holds an EntityRef whose name
  // is not a predefined entity.
  virtual std::unique_ptr<Node> Clone(NodeContainer* parent) const = 0;
  // Appends the node and everything below it as XML text (writer.h).
  virtual void Write(WriteContext& context) const = 0;

  // The tag, attribute, PI target or entity name; the fixed name of the
  // kind ("#text", "#comment", ...); empty for a CharRef and the null leaves.
  // Kept by the kinds that need one rather than in every node: a Text would
  // otherwise carry a whole string object for "#text".
  virtual const std::string& GetName() const;
  // The container that holds this node. Before it is added anywhere: the
  // parent given at construction, or the null element when none was given.
  NodeContainer& GetParent() const { return *parentContainer; }
  // True for the five shared null objects and for nothing else.
  bool IsNull() const { return isNull; }
  // True for the nodes with children: Element, Attribute and Document.
  bool IsContainer() const { return isContainer; }
  // The element that follows (precedes) this node among its parent's
  // children; the null element when there is none, or when the node is not
  // among them. Each step looks for the node among its siblings first, so a
  // walk over every child of a large container is cheaper on GetChildren.
  Element& NextSiblingElement() const;
  Element& PreviousSiblingElement() const;

  // Every node is destroyed through this: a node the parser placed in an
  // arena block hands its room back to the block (node_arena.h), any other
  // frees its own heap block.
  static void operator delete(Node* node, std::destroying_delete_t);
  // The allocation that matches it for a node made with new: its own heap
  // block (arenaSlot 0).
  static void* operator new(std::size_t size) { return ::operator new(size); }
  // Frees the block of a node whose constructor threw in a new-expression.
  static void operator delete(void* block) { ::operator delete(block); }

 protected:
  explicit Node(NodeContainer* parent);
  struct NullTag {};
  // Only the shared null objects are built this way.
  Node(NullTag, NodeContainer* parent);
  // nullptr: the null element.
  void SetParent(NodeContainer* newParent);

  // The fields are declared in this order so that the flags share one word:
  // a parsed tree holds a great many nodes.
 private:
  NodeContainer* parentContainer;

 protected:
  // Flags of the subclasses, kept here beside the node's own: in the
  // subclasses each would round the object up by 8 bytes.
  // NodeContainer: the last child is the Text that AddText extends.
  bool trailingIsText = false;
  // Element: set from xml:space.
  bool preserveSpace = false;
  // Attribute: the value stood without quotes.
  bool unquoted = false;

 private:
  friend class NodeContainer;
  friend class NodeArena;

  bool isNull = false;
  bool isContainer = false;
  // Where the node lies in its arena block; 0 when it has a heap block.
  std::uint16_t arenaSlot = 0;
};

class Text;

// A node with children: Element, Attribute and Document.
class NodeContainer : public Node {
 public:
  // Reads like std::vector<std::unique_ptr<Node>> (see owned_list.h).
  using ChildList = OwnedList<Node>;

  ~NodeContainer() override;

  const std::string& GetName() const override { return nodeName; }

  // Writes each child in order.
  void Write(WriteContext& context) const override;

  // The children in document order. Callers pick out element children with
  // IsType(kElementType).
  const ChildList& GetChildren() const { return children; }
  // True when there are no children of any kind.
  bool IsEmpty() const { return children.empty(); }

  // Appends `child` and takes ownership; the child's parent becomes this
  // container. A Text child becomes the trailing Text that AddText extends;
  // any other child ends it. On a null object the child is destroyed.
  void AddChild(std::unique_ptr<Node> child);
  // Adds text at the end of the content: appended to the trailing Text, or
  // as a new Text child (even when `text` is empty). Nothing on a null object.
  void AddText(std::string_view text);

  // The index-th (from 0) child named `name` whose IsType(typeId) is true;
  // the null element when there are fewer. Never creates anything.
  const Node& FindChild(std::string_view name, std::size_t index, int typeId) const;
  Node& FindChild(std::string_view name, std::size_t index, int typeId);
  // FindChild(name, index, kElementType): the null element when missing.
  const Element& GetChildElement(std::string_view name, std::size_t index = 0) const;
  Element& GetChildElement(std::string_view name, std::size_t index = 0);
  // The index-th child element named `name`, appending as many new elements
  // of that name as it takes to reach it (index 2 on none appends three).
  // On a null object: the null element, and nothing is created.
  Element& GetOrCreateChildElement(std::string_view name, std::size_t index = 0);
  // Removes and destroys the index-th child element named `name`; false when
  // there are fewer, or on a null object.
  bool RemoveChildElement(std::string_view name, std::size_t index = 0);
  // Destroys every child. Nothing on a null object.
  void RemoveAllChildren();

  // Where InsertChild and MoveChild put a node: right before or right after
  // the anchor.
  enum class Place { kBefore, kAfter };
  // Puts `child` next to `anchor`, one of this container's children, and
  // takes ownership; the child's parent becomes this container. False, with
  // `child` destroyed, when `anchor` is not a child here, or on a null object.
  bool InsertChild(std::unique_ptr<Node> child, const Node& anchor, Place place);
  // Moves `node`, a child of any container, next to `anchor`, one of this
  // container's children, without copying it. False, with nothing changed,
  // when `anchor` is not a child here, `node` is the anchor or is not
  // attached, or `node` holds this container (the tree would become a loop).
  bool MoveChild(Node& node, const Node& anchor, Place place);

  // Appends every node of `nodes` in order, exactly as AddChild would one
  // by one, sizing the list once; `nodes` is left empty. The parser gathers
  // a container's children before it adds them.
  void AddChildren(std::vector<std::unique_ptr<Node>>& nodes);

 protected:
  NodeContainer(NodeContainer* parent, std::string name);
  NodeContainer(NullTag, NodeContainer* parent);

  // Called just before `child` is taken out of the list and destroyed, so
  // that no reference into the list outlives it.
  virtual void ForgetChild(const Node& child);
  // The whitespace treatment of this container's joined child text.
  virtual void NormaliseText(std::string& text) const;

  // A copy of this node alone: same kind, name and flags, no children.
  virtual std::unique_ptr<NodeContainer> CloneEmpty(NodeContainer* parent) const = 0;

  // The tree walks behind GetText and Clone; they keep their stack on the
  // heap. GetContainerText joins the children's text and applies
  // NormaliseText at every container on the way.
  std::string GetContainerText() const;
  // CloneEmpty, then every child (and for elements every attribute) below.
  std::unique_ptr<Node> CloneTree(NodeContainer* parent) const;

 private:
  friend class Element;
  friend class Document;

  // The last child when trailingIsText is set, else none; AddText appends
  // to it.
  Text* TrailingText() const;

  std::string nodeName;
  ChildList children;
};

}  // namespace xmldoc
