// xml/text_nodes.cc: Text, CData, Comment, Pi and their null objects. Their
// Write operations live with the rest of the layout in writer.cc.
#include "xml/text_nodes.h"

#include <utility>

#include "xml/element.h"

namespace xmldoc {

Text::Text(NodeContainer* parent, std::string text)
    : Node(parent, "#text"), text(std::move(text)) {}

std::unique_ptr<Node> Text::Clone(NodeContainer* parent) const {
  return std::make_unique<Text>(parent, text);
}

CData::CData(std::string text) : CData(nullptr, std::move(text)) {}

CData::CData(NodeContainer* parent, std::string text)
    : Node(parent, "#cdata-section"), text(std::move(text)) {}

CData::CData(NullTag tag) : Node(tag, &NullElement()) {}

std::unique_ptr<Node> CData::Clone(NodeContainer* parent) const {
  return std::make_unique<CData>(parent, GetValue());
}

void CData::SetValue(std::string_view newText) {
  if (!IsNull()) text.assign(newText);
}

Comment::Comment(std::string text) : Comment(nullptr, std::move(text)) {}

Comment::Comment(NodeContainer* parent, std::string text)
    : Node(parent, "#comment"), text(std::move(text)) {}

Comment::Comment(NullTag tag) : Node(tag, &NullElement()) {}

std::unique_ptr<Node> Comment::Clone(NodeContainer* parent) const {
  return std::make_unique<Comment>(parent, GetValue());
}

Pi::Pi(std::string target, std::string data) : Pi(nullptr, std::move(target), std::move(data)) {}

Pi::Pi(NodeContainer* parent, std::string target, std::string data)
    : Node(parent, std::move(target)), data(std::move(data)) {}

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
