// tests/xml/reference_test.cc: character and entity references, the
// predefined entities, and the library's exceptions.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <type_traits>

#include "tests/support/xml_helpers.h"
#include "xml/xmldoc.h"

namespace {

using brevick::testing::WriteToString;
using namespace xmldoc;

TEST(ReferenceTest, PredefinedEntitiesResolveByExactName) {
  const struct {
    const char* name;
    bool found;
    char character;
  } cases[] = {
      {"lt", true, '<'},   {"gt", true, '>'}, {"amp", true, '&'}, {"apos", true, '\''},
      {"quot", true, '"'}, {"AMP", false, 0}, {"amp ", false, 0}, {"", false, 0},
      {"nbsp", false, 0},  {"quo", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EntityRef reference(nullptr, c.name);
    EXPECT_EQ(c.found, reference.Resolve());
    EXPECT_EQ(c.character, reference.GetCharacter());
    EXPECT_EQ(std::string(1, c.character), reference.GetText());
    EXPECT_EQ(c.name, reference.GetName());
  }
}

TEST(ReferenceTest, AttributeReadsEntityInPlace) {
  Attribute attribute(nullptr, "v");
  attribute.AddText("a");
  attribute.AddChild(std::make_unique<EntityRef>(&attribute, "quot"));
  attribute.AddText("b");
  EXPECT_EQ("a\"b", attribute.GetText());
  EXPECT_EQ("v=\"a&quot;b\"", WriteToString(attribute));
}

TEST(ReferenceTest, ThrowingConstructorNamesTheUnknownEntity) {
  EXPECT_EQ('&', EntityRef("amp").GetCharacter());
  EXPECT_EQ(&NullElement(), &EntityRef("amp").GetParent());
  try {
    EntityRef reference("Amp");
    FAIL() << "no exception";
  } catch (const InvalidRefException& e) {
    EXPECT_EQ("Amp", e.entityName);
  }
}

TEST(ReferenceTest, CloningAnUnresolvedEntityRefThrowsWithItsName) {
  Element element(nullptr, "e");
  element.AddText("x");
  element.AddChild(std::make_unique<EntityRef>(&element, "nbsp"));
  EXPECT_EQ(std::string("x\0", 2), element.GetText());
  try {
    element.Clone(nullptr);
    FAIL() << "no exception";
  } catch (const Exception& e) {  // the common base catches it
    const auto* invalid = dynamic_cast<const InvalidRefException*>(&e);
    ASSERT_NE(nullptr, invalid);
    EXPECT_EQ("nbsp", invalid->entityName);
  }
}

TEST(ReferenceTest, CloneOfAResolvedEntityRefKeepsNameCharacterAndParent) {
  Element parent(nullptr, "p");
  EntityRef source(nullptr, "gt");
  const std::unique_ptr<Node> copy = source.Clone(&parent);
  EXPECT_EQ(&parent, &copy->GetParent());
  EXPECT_EQ(">", copy->GetText());
  EXPECT_EQ("&gt;", WriteToString(*copy));
}

TEST(ReferenceTest, CharRefKeepsTheWholeCodePoint) {
  const struct {
    char32_t codePoint;
    std::string text;
    std::string written;
  } cases[] = {
      {U'A', "A", "&#x41;"},
      {U'\t', "\t", "&#x9;"},
      {U'\xE9', "\xC3\xA9", "&#xE9;"},
      {U'\x141', "\xC5\x81", "&#x141;"},  // never the low byte "A"
      {U'\x20AC', "\xE2\x82\xAC", "&#x20AC;"},
      {U'\U0001F600', "\xF0\x9F\x98\x80", "&#x1F600;"},
      {U'\U0010FFFF', "\xF4\x8F\xBF\xBF", "&#x10FFFF;"},
      {0xD800, "\xEF\xBF\xBD", "&#xD800;"},      // no scalar value: reads as U+FFFD
      {0x110000, "\xEF\xBF\xBD", "&#x110000;"},  // but is written as it stands
      {0xFFFFFFFF, "\xEF\xBF\xBD", "&#xFFFFFFFF;"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written);
    CharRef reference(nullptr, c.codePoint);
    EXPECT_EQ(c.text, reference.GetText());
    EXPECT_EQ(c.text, reference.GetValue());
    EXPECT_EQ("", reference.GetName());
    EXPECT_EQ(c.written, WriteToString(reference));
    const std::unique_ptr<Node> copy = reference.Clone(nullptr);
    EXPECT_EQ(c.written, WriteToString(*copy));
  }
}

TEST(ReferenceTest, OnlyXmlCharactersAreAllowedCodePoints) {
  const struct {
    char32_t codePoint;
    bool allowed;
  } cases[] = {
      {0x0, false},    {0x8, false},     {0x9, true},       {0xA, true},         {0xB, false},
      {0xD, true},     {0x1F, false},    {0x20, true},      {0xD7FF, true},      {0xD800, false},
      {0xDFFF, false}, {0xE000, true},   {0xFFFD, true},    {0xFFFE, false},     {0xFFFF, false},
      {0x10000, true}, {0x10FFFF, true}, {0x110000, false}, {0xFFFFFFFF, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<unsigned long>(c.codePoint));
    EXPECT_EQ(c.allowed, IsXmlCodePoint(c.codePoint));
  }
}

TEST(ExceptionTest, ParsingExceptionCarriesCodePositionAndExactText) {
  const struct {
    ParseError code;
    const char* text;
  } cases[] = {
      {ParseError::kNoError, "No error"},
      {ParseError::kIllegalCharacter, "Unlegal character"},
      {ParseError::kEndTagMismatch, "The end tag has not the same name as the start tag"},
      {ParseError::kReservedPiTarget,
       "Processing instruction target names may not be 'XML' in any combination of cases"},
      {ParseError::kInvalidEntityDeclaration, "Invalid ENTITY declatation"},
      {ParseError::kDataAfterRoot, "Unexpected data after the root element"},
      {ParseError::kElementsNestedTooDeeply, "Elements are nested too deeply"},
      {ParseError::kDuplicateAttribute, "An attribute appears twice in the same element"},
      {ParseError::kInvalidUtf8, "Invalid UTF-8 sequence"},
      // Values cast in from numbers outside the codes.
      {static_cast<ParseError>(-1), "Unknown error"},
      {ParseError::kCount, "Unknown error"},
      {static_cast<ParseError>(1000), "Unknown error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.code));
    try {
      throw ParsingException(c.code, 3, 7);
    } catch (const Exception& base) {
      const auto& e = static_cast<const ParsingException&>(base);
      EXPECT_EQ(c.code, e.errorCode);
      EXPECT_EQ(3, e.line);
      EXPECT_EQ(7, e.column);
      EXPECT_STREQ(c.text, e.GetErrorText());
    }
  }
}

// A code's number never moves: new codes are only ever appended.
TEST(ExceptionTest, CodesKeepTheirNumbers) {
  EXPECT_EQ(0, static_cast<int>(ParseError::kNoError));
  EXPECT_EQ(2, static_cast<int>(ParseError::kIllegalCharacter));
  EXPECT_EQ(13, static_cast<int>(ParseError::kEndTagMismatch));
  EXPECT_EQ(44, static_cast<int>(ParseError::kElementsNestedTooDeeply));
  EXPECT_EQ(45, static_cast<int>(ParseError::kDuplicateAttribute));
  EXPECT_EQ(46, static_cast<int>(ParseError::kInvalidUtf8));
  EXPECT_EQ(47, static_cast<int>(ParseError::kCount));
}

TEST(ExceptionTest, EveryCodeHasAMessageOfItsOwn) {
  std::set<std::string> seen;
  for (int number = 0; number < static_cast<int>(ParseError::kCount); ++number) {
    const char* text = ErrorText(static_cast<ParseError>(number));
    SCOPED_TRACE(text);
    EXPECT_STRNE("Unknown error", text) << number;
    EXPECT_TRUE(seen.insert(text).second) << number;  // a row pasted twice would shift meaning
  }
}

}  // namespace

namespace {

// Numbers of any unsigned width reach the code point unchanged; a plain char
// does not compile (it would sign-extend).
static_assert(std::is_constructible_v<xmldoc::CharRef, xmldoc::NodeContainer*, std::uint32_t>);
static_assert(std::is_constructible_v<xmldoc::CharRef, xmldoc::NodeContainer*, unsigned char>);
static_assert(!std::is_constructible_v<xmldoc::CharRef, xmldoc::NodeContainer*, char>);

}  // namespace
