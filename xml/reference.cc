// xml/reference.cc: character and entity references and the predefined
// entity table.
#include "xml/reference.h"

#include <array>
#include <utility>

#include "xml/element.h"
#include "xml/exception.h"

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

void AppendUtf8(std::string& out, char32_t codePoint) {
  const bool scalarValue = codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
  if (!scalarValue) codePoint = U'\uFFFD';
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

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

std::size_t WellFormedUtf8Length(std::string_view bytes) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (bytes.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace xmldoc
