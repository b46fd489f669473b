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

using brevick::testing::DescribeTree;
using brevick::testing::ParseExpectingFailure;
using brevick::testing::ParseOrFail;
using xmldoc::ParseError;
using namespace std::string_view_literals;

void ExpectFault(std::string_view xml, ParseError code, int line, int column) {
  const xmldoc::ParsingException e = ParseExpectingFailure(xml);
  EXPECT_EQ(code, e.errorCode) << e.GetErrorText();
  EXPECT_EQ(line, e.line);
  EXPECT_EQ(column, e.column);
}

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
  text += extra;
  return text + "/>";
}

// ---------------------------------------------------------------- duplicates

TEST(ParserEncodingTest, RefusesTheSecondAttributeOfTheSameNameAtItsName) {
  struct Case {
    std::string_view xml;
    int line;
    int column;
  };
  const Case cases[] = {
      {"<a x=\"1\" x=\"2\"/>", 1, 10},
      {"<a x='1' y='2' x='1'></a>", 1, 16},
      {"<a xml:space='preserve' xml:space='default'/>", 1, 25},
      {"<a x=\"1\" x=\"<\"/>", 1, 10},  // refused before its value is read
      {"<a x=1 x=2/>", 1, 8},           // unquoted values too
      {"<r>\n  <b x='1'\n     y='2'\n     x='3'/></r>", 4, 5},
      {"<r><b x='1'/><b x='1' x='1'/></r>", 1, 23},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.xml));
    ExpectFault(c.xml, ParseError::kDuplicateAttribute, c.line, c.column);
  }
}

TEST(ParserEncodingTest, ComparesAttributeNamesByTheirBytes) {
  const auto document = ParseOrFail("<r x='1' X='2' xx='3'><b x='4'/><b x='5'/></r>");
  ASSERT_TRUE(document);
  EXPECT_EQ("r(x=\"1\" X=\"2\" xx=\"3\")[\"\" b(x=\"4\") \"\" b(x=\"5\") \"\"]",
            DescribeTree(*document));
}

TEST(ParserEncodingTest, FindsDuplicatesAmongManyAttributes) {
  // Past the count where the parser stops comparing names one by one.
  {
    SCOPED_TRACE("5000 distinct names, twice in a row");
    const std::string element = Attributes(5000);
    const auto document = ParseOrFail("<r>" + element + element + "</r>");
    ASSERT_TRUE(document);
    EXPECT_EQ(5000u, document->GetRoot().GetChildElement("a", 1).GetAttributes().size());
  }
  struct Case {
    std::string_view label;
    int count;
    std::string_view extra;
  };
  const Case cases[] = {
      {"the first name again at the end", 5000, " n0='w'"},
      {"the last name again at the end", 5000, " n4999='w'"},
      {"a name repeated just past the linear count", 17, " n16='w'"},
      {"a name repeated at the linear count", 16, " n15='w'"},
      {"a name repeated just below it", 15, " n3='w'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.label));
    const std::string xml = Attributes(c.count, c.extra);
    ExpectFault(xml, ParseError::kDuplicateAttribute, 1, static_cast<int>(xml.rfind(' ')) + 2);
  }
}

// ---------------------------------------------------------------- UTF-8

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

// Where a lead byte may continue a name as a single byte (and where a
// stray byte right after a name is met).
constexpr std::string_view kNamePlaces[] = {
    "<ab@/>", "<a b@='1'/>", "<a><?pi@ x?></a>", "<a>&amp@;</a>", "<a></a@>",
};

struct SequenceCase {
  std::string_view label;
  std::string_view bytes;
};

const SequenceCase kIllFormed[] = {
    {"overlong 2-byte C0 AF", "\xC0\xAF"},
    {"overlong 2-byte C1 BF", "\xC1\xBF"},
    {"overlong 3-byte E0 80 AF", "\xE0\x80\xAF"},
    {"overlong 3-byte E0 9F BF", "\xE0\x9F\xBF"},
    {"overlong 4-byte F0 80 80 AF", "\xF0\x80\x80\xAF"},
    {"overlong 4-byte F0 8F BF BF", "\xF0\x8F\xBF\xBF"},
    {"surrogate ED A0 80", "\xED\xA0\x80"},
    {"surrogate ED BF BF", "\xED\xBF\xBF"},
    {"above U+10FFFF F4 90 80 80", "\xF4\x90\x80\x80"},
    {"lead F5", "\xF5\x80\x80\x80"},
    {"lead F8", "\xF8\x88\x80\x80\x80"},
    {"lead FE", "\xFE"},
    {"lead FF", "\xFF"},
    {"C0 80", "\xC0\x80"},
    {"stray continuation 80", "\x80"},
    {"stray continuation BF", "\xBF"},
    {"2-byte truncated before ASCII", "\xC3"},
    {"3-byte truncated before ASCII", "\xE2\x82"},
    {"4-byte truncated before ASCII", "\xF0\x9F\x98"},
    {"3-byte with a lead in place of its last byte", "\xE2\x82\xE2\x82\xAC"},
};

const SequenceCase kWellFormed[] = {
    {"U+00E9", "\xC3\xA9"},           {"U+0080", "\xC2\x80"},
    {"U+07FF", "\xDF\xBF"},           {"U+0800", "\xE0\xA0\x80"},
    {"U+D7FF", "\xED\x9F\xBF"},       {"U+E000", "\xEE\x80\x80"},
    {"U+FFFD", "\xEF\xBF\xBD"},       {"U+20AC", "\xE2\x82\xAC"},
    {"U+10000", "\xF0\x90\x80\x80"},  {"U+1F600", "\xF0\x9F\x98\x80"},
    {"U+10FFFF", "\xF4\x8F\xBF\xBF"},
};

TEST(ParserEncodingTest, RefusesIllFormedUtf8AtItsFirstByteWhereverItStands) {
  for (const std::string_view layout : kPlaces) {
    for (const SequenceCase& c : kIllFormed) {
      // In the last case the ill-formed sequence is the first two bytes.
      SCOPED_TRACE(std::string(layout) + " with " + std::string(c.label));
      ExpectFault(Place(layout, c.bytes), ParseError::kInvalidUtf8, 1, ColumnOfMark(layout));
    }
  }
}

TEST(ParserEncodingTest, RefusesIllFormedUtf8InAndAfterNames) {
  for (const std::string_view layout : kNamePlaces) {
    for (const SequenceCase& c : kIllFormed) {
      SCOPED_TRACE(std::string(layout) + " with " + std::string(c.label));
      ExpectFault(Place(layout, c.bytes), ParseError::kInvalidUtf8, 1, ColumnOfMark(layout));
    }
  }
}

TEST(ParserEncodingTest, RefusesASequenceCutShortByTheEndOfInput) {
  const std::string_view cases[] = {"<a>\xC3", "<a>xy\xE2\x82", "<a b='\xF0\x9F\x98", "<a><!--\xE2",
                                    "<a\xC3"};
  for (const std::string_view xml : cases) {
    SCOPED_TRACE(std::string(xml));
    ExpectFault(xml, ParseError::kInvalidUtf8, 1,
                static_cast<int>(xml.find_first_of("\xC3\xE2\xF0")) + 1);
  }
}

TEST(ParserEncodingTest, CountsLinesUpToTheIllFormedSequence) {
  ExpectFault("<a>\r\nline\n  \xC0\x80</a>", ParseError::kInvalidUtf8, 3, 2);
  ExpectFault("<a b='x\n\xE0\x80\x80'/>", ParseError::kInvalidUtf8, 2, 0);
  ExpectFault("<!-- one\n two\n three \xED\xA0\x80 --><a/>", ParseError::kInvalidUtf8, 3, 7);
}

TEST(ParserEncodingTest, RefusesRawNonCharactersFFFEAndFFFFAsIllegalCharacters) {
  for (const std::string_view layout : kPlaces) {
    for (const std::string_view bytes : {"\xEF\xBF\xBE"sv, "\xEF\xBF\xBF"sv}) {
      SCOPED_TRACE(std::string(layout));
      ExpectFault(Place(layout, bytes), ParseError::kIllegalCharacter, 1, ColumnOfMark(layout));
    }
  }
}

TEST(ParserEncodingTest, KeepsWellFormedUtf8ByteForByte) {
  for (const SequenceCase& c : kWellFormed) {
    SCOPED_TRACE(std::string(c.label));
    for (const std::string_view layout : kPlaces) {
      SCOPED_TRACE(std::string(layout));
      EXPECT_TRUE(ParseOrFail(Place(layout, c.bytes)));
    }
    const std::string text = "<a b='" + std::string(c.bytes) + "'>" + std::string(c.bytes) + "</a>";
    const auto document = ParseOrFail(text);
    ASSERT_TRUE(document);
    EXPECT_EQ(c.bytes, document->GetRoot().GetText());
    EXPECT_EQ(c.bytes, document->GetRoot().FindAttribute("b").GetText());
  }
}

TEST(ParserEncodingTest, ChecksEveryDeclarationThatNamesUtf8) {
  const std::string_view prologs[] = {
      "",
      "<?xml version='1.0'?>",
      "<?xml version='1.0' encoding='UTF-8'?>",
      "<?xml version='1.0' encoding='utf-8'?>",
      "<?xml version='1.0' encoding=\"Utf-8\" standalone='yes'?>",
  };
  for (const std::string_view prolog : prologs) {
    SCOPED_TRACE(std::string(prolog));
    const std::string xml = std::string(prolog) + "<a>\xC0\xAF</a>";
    ExpectFault(xml, ParseError::kInvalidUtf8, 1, static_cast<int>(xml.find('\xC0')) + 1);
  }
}

TEST(ParserEncodingTest, KeepsTheBytesOfADocumentInAnotherEncoding) {
  const std::string_view prolog = "<?xml version='1.0' encoding='ISO-8859-1'?>";
  for (const std::string_view layout : kPlaces) {
    std::vector<std::string_view> all;
    for (const SequenceCase& c : kIllFormed) all.push_back(c.bytes);
    all.push_back("\xEF\xBF\xBE");
    all.push_back("\xEF\xBF\xBF");
    all.push_back("\xC5\x81");  // UTF-8 bytes read as two Latin-1 characters
    for (const std::string_view bytes : all) {
      SCOPED_TRACE(std::string(layout) + " with " + std::string(bytes));
      EXPECT_TRUE(ParseOrFail(std::string(prolog) + Place(layout, bytes)));
    }
  }
  const auto document = ParseOrFail(std::string(prolog) + "<a b='\xFF\x80'>\xC5\x81\xC0</a>");
  ASSERT_TRUE(document);
  EXPECT_EQ("\xC5\x81\xC0", document->GetRoot().GetText());
  EXPECT_EQ("\xFF\x80", document->GetRoot().FindAttribute("b").GetText());
  EXPECT_EQ("ISO-8859-1", document->GetEncoding());
}

TEST(ParserEncodingTest, LeavesEachDocumentToItsOwnDeclaration) {
  // One parser, a Latin-1 document, then one without a declaration.
  xmldoc::Parser parser;
  const std::string latin = "<?xml version='1.0' encoding='ISO-8859-1'?><a>\xE9</a>";
  EXPECT_NO_THROW(parser.Parse(latin.data(), latin.size()));
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
