// xml/reference.cc: character and entity references and the predefined
// entity table.
#include "xml/reference.h"

#include <array>
#include <utility>

#include "xml/element.h"
#include "xml/exception.h"
#include "xml/utf8.h"

namespace xmldoc {

namespace {

struct PredefinedEntity {
  std::string_view name;
  char character;
};

// Exactly the five predefined XML entities; nothing is ever added.
constexpr std::array<PredefinedEntity, 5> kPredefinedEntities = {{
    {"lt", '<'},
    {"gt", '>'},
    {"amp", '&'},
    {"apos", '\''},
    {"quot", '"'},
}};

}  // namespace

std::optional<char> FindPredefinedEntity(std::string_view name) {
  for (const PredefinedEntity& entity : kPredefinedEntities) {
    if (entity.name == name) return entity.character;
  }
  return std::nullopt;
}

Reference::Reference(NodeContainer* parent) : Node(parent) {}

// ---- CharRef

CharRef::CharRef(NodeContainer* parent, char32_t value) : Reference(parent), codePoint(value) {}

std::string CharRef::GetValue() const {
  std::string bytes;
  // Built in code, a CharRef may hold a number no UTF-8 can carry; it then
  // reads as the replacement character rather than as malformed bytes.
  AppendUtf8(bytes, codePoint);
  return bytes;
}

std::unique_ptr<Node> CharRef::Clone(NodeContainer* parent) const {
  return std::make_unique<CharRef>(parent, codePoint);
}

// ---- EntityRef

EntityRef::EntityRef(std::string entityName) : Reference(nullptr), name(std::move(entityName)) {
  if (!Resolve()) throw InvalidRefException(GetName());
}

EntityRef::EntityRef(NodeContainer* parent, std::string entityName)
    : Reference(parent), name(std::move(entityName)) {
  Resolve();
}

std::unique_ptr<Node> EntityRef::Clone(NodeContainer* parent) const {
  auto copy = std::make_unique<EntityRef>(GetName());
  copy->SetParent(parent);
  copy->character = character;
  return copy;
}

bool EntityRef::Resolve() {
  const std::optional<char> found = FindPredefinedEntity(GetName());
  if (!found) return false;
  character = *found;
  return true;
}

}  // namespace xmldoc
