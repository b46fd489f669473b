// xml/text_nodes.cc: Text, CData, Comment, Pi and their null objects. Their
// Write operations live with the rest of the layout in writer.cc.
#include "xml/text_nodes.h"

#include <new>
#include <string>
#include <utility>

#include "xml/element.h"
#include "xml/node_arena.h"

namespace xmldoc {

namespace {

// The fixed names of the leaf kinds, shared by every node of the kind; built
// once and never freed, like the null objects.
const std::string& FixedName(const char* name) { return *new std::string(name); }

}  // namespace

Text::Text(NodeContainer* parent, std::string_view text)
    : Node(parent), bytes(new char[text.size() + 1]), size(text.size()), capacity(text.size() + 1) {
  text.copy(bytes, size);
}

Text::Text(InlineTag, NodeContainer* parent, std::string_view text)
    : Node(parent), bytes(reinterpret_cast<char*>(this + 1)), size(text.size()) {
  text.copy(bytes, size);
}

std::unique_ptr<Text> Text::Create(NodeContainer* parent, std::string_view text) {
  void* const block = ::operator new(sizeof(Text) + text.size());
  try {
    return std::unique_ptr<Text>(::new (block) Text(InlineTag{}, parent, text));
  } catch (...) {
    ::operator delete(block);
    throw;
  }
}

std::unique_ptr<Text> Text::Create(NodeContainer* parent, std::string_view text, NodeArena& arena) {
  return arena.Make<Text>(sizeof(Text) + text.size(),
                          [&](void* at) { return ::new (at) Text(InlineTag{}, parent, text); });
}

Text::~Text() {
  if (capacity != 0) delete[] bytes;
}

void Text::AppendText(std::string_view more) {
  if (more.empty()) return;
  if (capacity - size < more.size() || capacity == 0) {
    // Doubling keeps a long run of appends linear.
    std::size_t wanted = capacity == 0 ? size + more.size() : capacity;
    while (wanted < size + more.size()) wanted *= 2;
    wanted = wanted < 32 ? 32 : wanted;
    char* const grown = new char[wanted];
    std::char_traits<char>::copy(grown, bytes, size);
    if (capacity != 0) delete[] bytes;
    bytes = grown;
    capacity = wanted;
  }
  more.copy(bytes + size, more.size());
  size += more.size();
}

const std::string& Text::GetName() const {
  static const std::string& name = FixedName("#text");
  return name;
}

std::unique_ptr<Node> Text::Clone(NodeContainer* parent) const { return Create(parent, Content()); }

CData::CData(std::string text) : CData(nullptr, std::move(text)) {}

CData::CData(NodeContainer* parent, std::string text) : Node(parent), content(std::move(text)) {}

const std::string& CData::GetName() const {
  static const std::string& name = FixedName("#cdata-section");
  return IsNull() ? Node::GetName() : name;  // the null section has no name
}

CData::CData(NullTag tag) : Node(tag, &NullElement()) {}

std::unique_ptr<Node> CData::Clone(NodeContainer* parent) const {
  return std::make_unique<CData>(parent, GetValue());
}

void CData::SetValue(std::string_view newText) {
  if (!IsNull()) content.assign(newText);
}

Comment::Comment(std::string text) : Comment(nullptr, std::move(text)) {}

Comment::Comment(NodeContainer* parent, std::string text)
    : Node(parent), content(std::move(text)) {}

const std::string& Comment::GetName() const {
  static const std::string& name = FixedName("#comment");
  return IsNull() ? Node::GetName() : name;  // the null comment has no name
}

Comment::Comment(NullTag tag) : Node(tag, &NullElement()) {}

std::unique_ptr<Node> Comment::Clone(NodeContainer* parent) const {
  return std::make_unique<Comment>(parent, GetValue());
}

Pi::Pi(std::string targetName, std::string instructionData)
    : Pi(nullptr, std::move(targetName), std::move(instructionData)) {}

Pi::Pi(NodeContainer* parent, std::string targetName, std::string instructionData)
    : Node(parent), target(std::move(targetName)), data(std::move(instructionData)) {}

Pi::Pi(NullTag tag) : Node(tag, &NullElement()) {}

std::unique_ptr<Node> Pi::Clone(NodeContainer* parent) const {
  return std::make_unique<Pi>(parent, GetName(), data);
}

// Never freed, like the null element: see element.cc.
Comment& NullComment() {
  static Comment* const instance = new Comment(Comment::NullTag{});
  return *instance;
}

Pi& NullPi() {
  static Pi* const instance = new Pi(Pi::NullTag{});
  return *instance;
}

CData& NullCData() {
  static CData* const instance = new CData(CData::NullTag{});
  return *instance;
}

}  // namespace xmldoc
