// tests/xml/parser_encoding_test.cc: what the parser refuses in a start tag's
// attribute list and in the bytes of a UTF-8 document, and where it says so.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "tests/support/xml_parse_helpers.h"
#include "xml/document.h"
#include "xml/element.h"
#include "xml/exception.h"
#include "xml/parser.h"

namespace {

using brevick::testing::ExpectParseFault;
using brevick::testing::ParseOrFail;
using xmldoc::ParseError;
using namespace std::string_view_literals;

// Replaces the one '@' in `layout` with `bytes`.
std::string Place(std::string_view layout, std::string_view bytes) {
  std::string text(layout);
  text.replace(text.find('@'), 1, bytes);
  return text;
}

// The column of the '@' in a one-line layout: the reader stands on the
// offending byte, and the first line counts from 1.
int ColumnOfMark(std::string_view layout) { return static_cast<int>(layout.find('@')) + 1; }

std::string Attributes(int count, std::string_view extra = {}) {
  std::string text = "<a";
  for (int i = 0; i < count; ++i) text += " n" + std::to_string(i) + "=\"v\"";
  return text + std::string(extra) + "/>";
}

TEST(ParserEncodingTest, RefusesTheSecondAttributeOfTheSameNameAtItsName) {
  const struct {
    std::string_view xml;
    int line, column;
  } cases[] = {
      // clang-format off
      {"<a x=\"1\" x=\"2\"/>", 1, 10},
      {"<a x='1' y='2' x='1'></a>", 1, 16},
      {"<a xml:space='preserve' xml:space='default'/>", 1, 25},
      {"<a x=\"1\" x=\"<\"/>", 1, 10},  // refused before its value is read
      {"<a x=1 x=2/>", 1, 8},  // unquoted values too
      {"<r>\n  <b x='1'\n     y='2'\n     x='3'/></r>", 4, 5},
      {"<r><b x='1'/><b x='1' x='1'/></r>", 1, 23},
      // clang-format on
  };
  for (const auto& c : cases)
    ExpectParseFault(c.xml, ParseError::kDuplicateAttribute, c.line, c.column);
  EXPECT_TRUE(ParseOrFail("<r x='1'><b x='4'/><b x='5'/></r>"));  // one name in several elements
  // Past the count where the parser stops comparing names one by one.
  const std::string many = Attributes(5000);
  const auto document = ParseOrFail("<r>" + many + many + "</r>");
  ASSERT_TRUE(document);
  EXPECT_EQ(5000u, document->GetRoot().GetChildElement("a", 1).GetAttributes().size());
  for (const auto& [count, extra] : {std::pair{5000, " n0='w'"},
                                     {5000, " n4999='w'"},
                                     {17, " n16='w'"},
                                     {16, " n15='w'"},
                                     {15, " n3='w'"}}) {
    const std::string xml = Attributes(count, extra);
    ExpectParseFault(xml, ParseError::kDuplicateAttribute, 1, static_cast<int>(xml.rfind(' ')) + 2);
  }
}

// Places where bytes of 0x80 and above may stand; '@' marks the sequence.
constexpr std::string_view kPlaces[] = {
    "<a>xy@z</a>",
    "<a b=\"xy@z\"/>",
    "<a b='@'/>",
    "<a><!--xy@z--></a>",
    "<!--@--><a/>",
    "<a><?pi xy@z?></a>",
    "<a><![CDATA[xy@z]]></a>",
    "<!DOCTYPE a SYSTEM \"xy@z\"><a/>",
    "<!DOCTYPE a [<!ENTITY e \"xy@z\">]><a/>",
    "<!DOCTYPE a [<!ATTLIST a b CDATA \"xy@z\">]><a/>",
};

// Where a lead byte may continue a name as a single byte (and where a stray
// byte right after a name is met).
constexpr std::string_view kNamePlaces[] = {"<ab@/>", "<a b@='1'/>", "<a><?pi@ x?></a>",
                                            "<a>&amp@;</a>", "<a></a@>"};

// clang-format off
constexpr std::string_view kIllFormed[] = {
    "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xE0\x9F\xBF", "\xF0\x80\x80\xAF", "\xF0\x8F\xBF\xBF",  // overlong
    "\xED\xA0\x80", "\xED\xBF\xBF",  // surrogates
    "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xF8\x88\x80\x80\x80", "\xFE", "\xFF", "\xC0\x80",  // no such lead
    "\x80", "\xBF",  // stray continuation bytes
    "\xC3", "\xE2\x82", "\xF0\x9F\x98",  // truncated before ASCII
    "\xE2\x82\xE2\x82\xAC",  // a lead in place of the last byte
};
constexpr std::string_view kWellFormed[] = {
    "\xC3\xA9", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80", "\xEF\xBF\xBD",
    "\xE2\x82\xAC", "\xF0\x90\x80\x80", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF",
};
// clang-format on

TEST(ParserEncodingTest, RefusesIllFormedUtf8AtItsFirstByteWhereverItStands) {
  std::vector<std::string_view> layouts(std::begin(kPlaces), std::end(kPlaces));
  layouts.insert(layouts.end(), std::begin(kNamePlaces), std::end(kNamePlaces));
  for (const std::string_view layout : layouts) {
    for (const std::string_view bytes : kIllFormed)
      ExpectParseFault(Place(layout, bytes), ParseError::kInvalidUtf8, 1, ColumnOfMark(layout));
  }
  // Raw U+FFFE and U+FFFF are refused as their references are.
  for (const std::string_view layout : kPlaces) {
    for (const std::string_view bytes : {"\xEF\xBF\xBE"sv, "\xEF\xBF\xBF"sv})
      ExpectParseFault(Place(layout, bytes), ParseError::kIllegalCharacter, 1,
                       ColumnOfMark(layout));
  }
  // Cut short by the end of input; and the lines before the sequence count.
  for (const std::string_view xml :
       {"<a>\xC3"sv, "<a>xy\xE2\x82"sv, "<a b='\xF0\x9F\x98"sv, "<a><!--\xE2"sv, "<a\xC3"sv})
    ExpectParseFault(xml, ParseError::kInvalidUtf8, 1,
                     static_cast<int>(xml.find_first_of("\xC3\xE2\xF0")) + 1);
  ExpectParseFault("<a>\r\nline\n  \xC0\x80</a>", ParseError::kInvalidUtf8, 3, 2);
  ExpectParseFault("<a b='x\n\xE0\x80\x80'/>", ParseError::kInvalidUtf8, 2, 0);
  ExpectParseFault("<!-- one\n two\n three \xED\xA0\x80 --><a/>", ParseError::kInvalidUtf8, 3, 7);
}

TEST(ParserEncodingTest, KeepsWellFormedUtf8ByteForByte) {
  for (const std::string_view bytes : kWellFormed) {
    for (const std::string_view layout : kPlaces)
      EXPECT_TRUE(ParseOrFail(Place(layout, bytes))) << layout;
    const auto document =
        ParseOrFail("<a b='" + std::string(bytes) + "'>" + std::string(bytes) + "</a>");
    ASSERT_TRUE(document);
    EXPECT_EQ(bytes, document->GetRoot().GetText());
    EXPECT_EQ(bytes, document->GetRoot().FindAttribute("b").GetText());
  }
}

TEST(ParserEncodingTest, EachDocumentIsCheckedByTheEncodingItNames) {
  // clang-format off
  for (const std::string_view prolog : {""sv, "<?xml version='1.0'?>"sv, "<?xml version='1.0' encoding='UTF-8'?>"sv,
                                        "<?xml version='1.0' encoding='utf-8'?>"sv, "<?xml version='1.0' encoding=\"Utf-8\" standalone='yes'?>"sv}) {
    // clang-format on
    const std::string xml = std::string(prolog) + "<a>\xC0\xAF</a>";
    ExpectParseFault(xml, ParseError::kInvalidUtf8, 1, static_cast<int>(xml.find('\xC0')) + 1);
  }
  const std::string prolog = "<?xml version='1.0' encoding='ISO-8859-1'?>";
  std::vector<std::string_view> all(std::begin(kIllFormed), std::end(kIllFormed));
  all.insert(all.end(), {"\xEF\xBF\xBE", "\xEF\xBF\xBF", "\xC5\x81"});
  for (const std::string_view layout : kPlaces) {
    for (const std::string_view bytes : all)
      EXPECT_TRUE(ParseOrFail(prolog + Place(layout, bytes)));
  }
  xmldoc::Parser parser;  // one parser: a Latin-1 document, then one without a declaration
  const std::string latin = prolog + "<a b='\xFF\x80'>\xC5\x81\xC0</a>";
  const auto document = parser.Parse(latin.data(), latin.size());
  EXPECT_EQ("\xC5\x81\xC0", document->GetRoot().GetText());
  EXPECT_EQ("\xFF\x80", document->GetRoot().FindAttribute("b").GetText());
  EXPECT_EQ("ISO-8859-1", document->GetEncoding());
  const std::string plain = "<a>\xE9</a>";
  try {
    parser.Parse(plain.data(), plain.size());
    ADD_FAILURE() << "a lone E9 in a UTF-8 document was accepted";
  } catch (const xmldoc::ParsingException& e) {
    EXPECT_EQ(ParseError::kInvalidUtf8, e.errorCode);
    EXPECT_EQ(4, e.column);
  }
}

}  // namespace
