// xml/reference.h: character and entity references, kept as nodes of their
// own so that the writer can put them back as references, and the table of
// the five predefined entities through which entity names resolve.
#pragma once

#include <concepts>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "xml/node.h"

namespace xmldoc {

// Both reference kinds answer IsType(kReferenceType).
class Reference : public Node {
 public:
  bool IsType(int typeId) const override { return typeId == kReferenceType; }

 protected:
  explicit Reference(NodeContainer* parent);
};

// True for the code points XML allows in a document: tab, LF, CR, U+0020 to
// U+D7FF, U+E000 to U+FFFD and U+10000 to U+10FFFF. The parser refuses a
// character reference to anything else.
constexpr bool IsXmlCodePoint(char32_t codePoint) {
  if (codePoint < 0x20) return codePoint == 0x9 || codePoint == 0xA || codePoint == 0xD;
  if (codePoint < 0xD800) return true;
  if (codePoint < 0xE000) return false;
  if (codePoint < 0xFFFE) return true;
  return codePoint >= 0x10000 && codePoint <= 0x10FFFF;
}

// A character reference: holds the whole code point, reads as its UTF-8
// bytes and is written as "&#x" + uppercase hex + ";". The name is empty.
class CharRef : public Reference {
 public:
  // The code point is kept as given. nullptr parent: the null element.
  CharRef(NodeContainer* parent, char32_t value);
  // A plain (signed) char would turn 0xE9 into U+FFFFFFE9 on the way: pass
  // the code point as char32_t or an unsigned number.
  template <typename T>
  requires std::same_as<T, char> CharRef(NodeContainer* parent, T byte)
  = delete;

  // The UTF-8 bytes of the code point; U+FFFD's bytes for a value that is no
  // Unicode scalar value (a surrogate, or beyond U+10FFFF).
  std::string GetValue() const override;
  std::string GetText() const override { return GetValue(); }
  std::unique_ptr<Node> Clone(NodeContainer* parent) const override;
  void Write(WriteContext& context) const override;

  char32_t GetCodePoint() const { return codePoint; }

 private:
  char32_t codePoint;
};

// An entity reference: the name is the entity name (without "&" and ";"),
// the character is its replacement, 0 while unresolved.
class EntityRef : public Reference {
 public:
  // Resolves; throws InvalidRefException (with the name) when the name is
  // not a predefined entity. The parent is the null element.
  explicit EntityRef(std::string entityName);
  // Resolves without throwing: an unknown name leaves the character 0 and
  // the caller decides (the parser calls Resolve itself and reports it).
  EntityRef(NodeContainer* parent, std::string entityName);

  // The entity name, without "&" and ";".
  const std::string& GetName() const override { return name; }

  // One byte: the character, or a single zero byte while unresolved.
  std::string GetValue() const override { return std::string(1, character); }
  std::string GetText() const override { return GetValue(); }
  // Built through the throwing constructor, so an unresolvable name throws
  // InvalidRefException; the copy carries the source's character.
  std::unique_ptr<Node> Clone(NodeContainer* parent) const override;
  // "&" name ";", never the character.
  void Write(WriteContext& context) const override;

  // Looks the name up in the predefined entity table: true and the character
  // set when found (exact bytes); false and nothing changed otherwise.
  bool Resolve();
  char GetCharacter() const { return character; }

 private:
  std::string name;
  char character = 0;
};

// The predefined entity table: exactly lt, gt, amp, apos and quot, matched
// byte for byte. Nothing when `name` is none of them.
std::optional<char> FindPredefinedEntity(std::string_view name);

}  // namespace xmldoc
