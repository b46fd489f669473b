// tests/xml/reference_test.cc: character and entity references, the
// predefined entities, and the library's exceptions.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include "tests/support/xml_helpers.h"
#include "xml/xmldoc.h"

namespace {

using brevick::testing::WriteToString;
using namespace xmldoc;

// Numbers of any unsigned width reach the code point unchanged; a plain char
// does not compile (it would sign-extend).
static_assert(std::is_constructible_v<CharRef, NodeContainer*, std::uint32_t>);
static_assert(!std::is_constructible_v<CharRef, NodeContainer*, char>);

TEST(ReferenceTest, PredefinedEntitiesResolveByExactName) {
  const struct {
    const char* name;
    char character;  // 0: not predefined
  } cases[] = {
      // clang-format off
      {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'},
      {"AMP", 0}, {"amp ", 0}, {"", 0}, {"nbsp", 0}, {"quo", 0},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EntityRef reference(nullptr, c.name);
    EXPECT_EQ(c.character != 0, reference.Resolve());
    EXPECT_EQ(std::string(1, c.character), reference.GetText());
    EXPECT_EQ(c.name, reference.GetName());
  }
  Attribute attribute(nullptr, "v");  // read in place, written by name
  attribute.AddText("a");
  attribute.AddChild(std::make_unique<EntityRef>(&attribute, "quot"));
  attribute.AddText("b");
  EXPECT_EQ("a\"b", attribute.GetText());
  EXPECT_EQ("v=\"a&quot;b\"", WriteToString(attribute));
  Element parent(nullptr, "p");
  const std::unique_ptr<Node> copy = EntityRef(nullptr, "gt").Clone(&parent);
  EXPECT_EQ(&parent, &copy->GetParent());
  EXPECT_EQ(">&gt;", copy->GetText() + WriteToString(*copy));
}

TEST(ReferenceTest, AnUnknownEntityThrowsWithItsNameWhenMadeOrCloned) {
  EXPECT_EQ(&NullElement(), &EntityRef("amp").GetParent());
  try {
    EntityRef reference("Amp");
    FAIL() << "no exception";
  } catch (const InvalidRefException& e) {
    EXPECT_EQ("Amp", e.entityName);
  }
  Element element(nullptr, "e");
  element.AddText("x");
  element.AddChild(std::make_unique<EntityRef>(&element, "nbsp"));
  EXPECT_EQ(std::string("x\0", 2), element.GetText());
  EXPECT_EQ("\n<e>x&nbsp;</e>", WriteToString(element));
  try {
    element.Clone(nullptr);
    FAIL() << "no exception";
  } catch (const Exception& e) {  // the common base catches it
    const auto* invalid = dynamic_cast<const InvalidRefException*>(&e);
    ASSERT_NE(nullptr, invalid);
    EXPECT_EQ("nbsp", invalid->entityName);
  }
}

TEST(ReferenceTest, CharRefKeepsTheWholeCodePoint) {
  const struct {
    char32_t codePoint;
    std::string text, written;
  } cases[] = {
      // clang-format off
      {U'A', "A", "&#x41;"},
      {U'\t', "\t", "&#x9;"},
      {U'\xE9', "\xC3\xA9", "&#xE9;"},
      {U'\x141', "\xC5\x81", "&#x141;"},  // never the low byte "A"
      {U'\x20AC', "\xE2\x82\xAC", "&#x20AC;"},
      {U'\U0001F600', "\xF0\x9F\x98\x80", "&#x1F600;"},
      {U'\U0010FFFF', "\xF4\x8F\xBF\xBF", "&#x10FFFF;"},
      {0xD800, "\xEF\xBF\xBD", "&#xD800;"},  // no scalar value: reads as U+FFFD
      {0x110000, "\xEF\xBF\xBD", "&#x110000;"},  // but is written as it stands
      {0xFFFFFFFF, "\xEF\xBF\xBD", "&#xFFFFFFFF;"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written);
    CharRef reference(nullptr, c.codePoint);
    EXPECT_EQ(c.text + c.text, reference.GetText() + reference.GetValue());
    EXPECT_EQ("", reference.GetName());
    EXPECT_EQ(c.written, WriteToString(reference));
    EXPECT_EQ(c.written, WriteToString(*reference.Clone(nullptr)));
  }
}

TEST(ReferenceTest, OnlyXmlCharactersAreAllowedCodePoints) {
  // clang-format off
  const char32_t allowed[] = {0x9, 0xA, 0xD, 0x20, 0xD7FF, 0xE000, 0xFFFD, 0x10000, 0x10FFFF};
  const char32_t refused[] = {0x0, 0x8, 0xB, 0x1F, 0xD800, 0xDFFF, 0xFFFE, 0xFFFF, 0x110000, 0xFFFFFFFF};
  for (const char32_t c : allowed) EXPECT_TRUE(IsXmlCodePoint(c)) << std::hex << static_cast<unsigned>(c);
  for (const char32_t c : refused) EXPECT_FALSE(IsXmlCodePoint(c)) << std::hex << static_cast<unsigned>(c);
  // clang-format on
}

TEST(ExceptionTest, ParsingExceptionCarriesCodePositionAndExactText) {
  const struct {
    ParseError code;
    const char* text;
  } cases[] = {
      // clang-format off
      {ParseError::kNoError, "No error"},
      {ParseError::kIllegalCharacter, "Unlegal character"},
      {ParseError::kEndTagMismatch, "The end tag has not the same name as the start tag"},
      {ParseError::kReservedPiTarget, "Processing instruction target names may not be 'XML' in any combination of cases"},
      {ParseError::kInvalidEntityDeclaration, "Invalid ENTITY declatation"},
      {ParseError::kDataAfterRoot, "Unexpected data after the root element"},
      {ParseError::kElementsNestedTooDeeply, "Elements are nested too deeply"},
      {ParseError::kDuplicateAttribute, "An attribute appears twice in the same element"},
      {ParseError::kInvalidUtf8, "Invalid UTF-8 sequence"},
      {static_cast<ParseError>(-1), "Unknown error"},  // numbers outside the codes
      {ParseError::kCount, "Unknown error"},
      // clang-format on
  };
  for (const auto& c : cases) {
    try {
      throw ParsingException(c.code, 3, 7);
    } catch (const Exception& base) {
      const auto& e = static_cast<const ParsingException&>(base);
      EXPECT_EQ(c.code, e.errorCode);
      EXPECT_EQ(37, e.line * 10 + e.column);
      EXPECT_STREQ(c.text, e.GetErrorText());
    }
  }
}

}  // namespace
