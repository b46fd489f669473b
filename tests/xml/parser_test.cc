// tests/xml/parser_test.cc: the document grammar, from text to tree shape or
// to the code and position of the first fault; the bytes a UTF-8 document may
// hold; the runs of text that the parser skips in blocks; and the document
// type declaration, checked for syntax and dropped.
#include "xml/parser.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tests/support/xml_parse_helpers.h"
#include "xml/document.h"
#include "xml/element.h"
#include "xml/exception.h"

namespace {

using brevick::testing::DescribeTree;
using brevick::testing::ExpectParseFault;
using brevick::testing::ParseOrFail;
using xmldoc::ParseError;
using namespace std::string_view_literals;

// The internal subset is wrapped around a fixed body, so that a case states
// only the declarations it is about.
std::string WithSubset(std::string_view subset) {
  return "<!DOCTYPE r [" + std::string(subset) + "]>\n<r a='1'>t</r>";
}

std::string Nested(int depth) {
  std::string xml;
  for (int i = 0; i < depth; ++i) xml += "<e>";
  for (int i = 0; i < depth; ++i) xml += "</e>";
  return xml;
}

std::string NestedModel(int depth) {
  return "<!DOCTYPE r [<!ELEMENT r " + std::string(depth, '(') + "a" + std::string(depth, ')') +
         ">]><r/>";
}

// Every kind of declaration an internal subset may hold.
constexpr std::string_view kEveryDeclaration =
    "\n <!ELEMENT r (#PCDATA|e)*> <!ELEMENT e EMPTY> <!ELEMENT f ANY>\n"
    " <!ELEMENT g (#PCDATA)> <!ELEMENT h ( #PCDATA )*> <!ELEMENT j (k)>\n"
    " <!ELEMENT i ((a , b?)*, (c | d | (e, f))+, g?)> <!ATTLIST e>\n"
    " <!ATTLIST r a CDATA #REQUIRED b ID #IMPLIED c IDREF '' d IDREFS \"x y\"\n"
    "  e ENTITY #IMPLIED f ENTITIES #IMPLIED g NMTOKEN #IMPLIED h NMTOKENS #IMPLIED\n"
    "  i NOTATION ( n | m ) 'n' j (1|b.c|-d) #FIXED '1' k CDATA 5 l CDATA 'a&amp;&#x141;'>\n"
    " <!ENTITY g1 'v &amp; &#65; %pe; <x>'> <!ENTITY g2 SYSTEM 'g2.xml'> <!ENTITY % pe \"p\">\n"
    " <!ENTITY g3 PUBLIC '-//P//EN' \"g3.bin\" NDATA n> <!ENTITY % pe2 SYSTEM 'pe2.ent'>\n"
    " <!NOTATION n SYSTEM 'viewer'> <!NOTATION m PUBLIC '-//M//EN'>\n"
    " <!NOTATION o PUBLIC '-//O//EN' 'o.exe'>\n"
    "  %pe;\n";

TEST(ParserTest, BuildsTheTreeWithEveryBoundaryReferenceAndAttribute) {
  // clang-format off
  const struct { std::string xml; std::string_view tree; } cases[] = {
      {"<a/>", "a"},
      {"<a></a >", "a[\"\"]"},
      {"<a>x<b>y</b>z</a>", "a[\"x\" b[\"y\"] \"z\"]"},
      {"<a><!--c--><?p d?><![CDATA[<&]]></a>", "a[\"\" #\"c\" \"\" ?p\"d\" \"\" cdata\"<&\" \"\"]"},
      {"<a>]]x]</a>", "a[\"]]x]\"]"},  // "]]" not followed by ">" is text
      {"<a>1\r\n2\r3</a>", "a[\"1\r\n2\r3\"]"},  // line ends stay as they stood
      {"<p:a xmlns:p='u'><p:b/></p:a>", "p:a(xmlns:p=\"u\")[\"\" p:b \"\"]"},
      // In a document that is not UTF-8, single bytes from 0xC0 continue a name.
      {"<?xml version='1.0' encoding='ISO-8859-1'?><a\xB7\xC0\xD8\xFF/>", "a\xB7\xC0\xD8\xFF"},
      {"<a>&lt;&gt;&amp;&apos;&quot;</a>", "a[\"\" &lt; \"\" &gt; \"\" &amp; \"\" &apos; \"\" &quot; \"\"]"},
      {"<a>&#65;&#x41;&#x141;&#x1F600;</a>", "a[\"\" &#x41; \"\" &#x41; \"\" &#x141; \"\" &#x1F600; \"\"]"},
      {"<r>&#xFFFD;&#x10FFFF;&#xE000;&#xD7FF;</r>", "r[\"\" &#xFFFD; \"\" &#x10FFFF; \"\" &#xE000; \"\" &#xD7FF; \"\"]"},
      {"<a x='a &amp; b' y='&#x141;'/>", "a(x=\"a \"&amp;\" b\" y=\"\"&#x141;\"\")"},
      {"<a x=\"1\" X=\"2\" xx=\"3\"/>", "a(x=\"1\" X=\"2\" xx=\"3\")"},
      {"<a x=\" 1\r\n\t2 \"/>", "a(x=\" 1\r\n\t2 \")"},  // values kept as they stand
      {"<a x=123 y='z'></a>", "a(x=~\"123\" y=\"z\")[\"\"]"},
      {"<a x=></a>", "a(x=~\"\")[\"\"]"},  // an empty run of digits
      {"<!--a--><?p?>\n <r/> <!--b-->\n<?q  x ?>", "#\"a\" ?p\"\" r #\"b\" ?q\"x \""},
      {std::string("<r/>\0garbage", 12), "r"},  // a zero byte ends the input
      {"<md5>t</md5 \r\n >", "md5[\"t\"]"},
      {"<a\xC3\xB7>t</a\xC3\xB7>", "a\xC3\xB7[\"t\"]"},  // U+00F7: both bytes continue a name
      // A well-formed document type declaration is checked and leaves no trace.
      {"<!DOCTYPE r>\n<!--c--><r/>", "#\"c\" r"},
      {"<!DOCTYPE r SYSTEM 'r.dtd'><r/>", "r"},
      {"<!DOCTYPE r PUBLIC \"-//Brevick//DTD r//EN\" \"r.dtd\"><r/>", "r"},
      {"<!DOCTYPE r SYSTEM \"r.dtd\" [ ] ><r/>", "r"},
      {WithSubset(kEveryDeclaration), "r(a=\"1\")[\"t\"]"},
  };
  // clang-format on
  for (const auto& c : cases) {
    const auto document = ParseOrFail(c.xml);
    ASSERT_TRUE(document) << c.xml;
    EXPECT_EQ(c.tree, DescribeTree(*document)) << c.xml;
  }
}

TEST(ParserTest, FillsTheDeclarationFieldsAndPreserveSpace) {
  // clang-format off
  for (const auto& [xml, fields] : {std::pair{"<r/>"sv, "1.0 UTF-8 1"sv},
                                    {"<?xml version='1.1' encoding='ISO-8859-1' standalone='no' ?>\n<r/>", "1.1 ISO-8859-1 0"},
                                    {"<?xml version = \"x_:.-9\"  encoding=\"a.b-c_9\" standalone=\"yes\"?><r/>", "x_:.-9 a.b-c_9 1"}}) {
    // clang-format on
    const auto document = ParseOrFail(xml);
    ASSERT_TRUE(document);
    EXPECT_EQ(fields, document->GetVersion() + " " + document->GetEncoding() + " " +
                          std::to_string(document->IsStandalone()));
  }
  // Only "preserve" sets it, it is not inherited, and it is judged on the
  // value's text.
  const auto document = ParseOrFail(
      "<r xml:space='preserve'><a xml:space='default'/><b "
      "xml:space='x'/><c/><d "
      "xml:space='pre&#x73;erve'/></r>");
  ASSERT_TRUE(document);
  std::string flags;
  for (const char* name : {"a", "b", "c", "d"})
    flags += std::to_string(document->GetRoot().GetChildElement(name).IsPreserveSpace());
  EXPECT_EQ("0001", flags);
  EXPECT_TRUE(document->GetRoot().IsPreserveSpace());
}

TEST(ParserTest, AcceptsNestingUpToTheLimits) {
  EXPECT_TRUE(ParseOrFail(Nested(xmldoc::kMaxElementDepth)));
  EXPECT_TRUE(ParseOrFail(NestedModel(xmldoc::kMaxParticleDepth)));
}

TEST(ParserTest, RefusesMalformedInputWithItsCodeAndPosition) {
  // clang-format off
  const struct { std::string xml; ParseError code; int line, column; } cases[] = {
      {"", ParseError::kNoRootElement, 1, 1},
      {"\xEF\xBB\xBF<r/>", ParseError::kNoRootElement, 1, 1},  // a byte-order mark is not skipped
      {" <?xml version='1.0'?><r/>", ParseError::kReservedPiTarget, 1, 7},
      {"<?xml-stylesheet href='a'?><r/>", ParseError::kInvalidXmlDeclarationVersion, 1, 6},
      {"<?xml version='1.0\"?><r/>", ParseError::kInvalidXmlDeclarationVersion, 1, 19},
      {"<?xml version '1.0'?><r/>", ParseError::kNoEqualSign, 1, 14},
      {"<?xml version='1.0'encoding='a'?><r/>", ParseError::kInvalidXmlDeclarationEnd, 1, 20},
      {"<?xml version='1.0' encoding=a?><r/>", ParseError::kInvalidEncodingDeclaration, 1, 31},
      {"<?xml version='1.0' encoding='9'?><r/>", ParseError::kInvalidEncodingName, 1, 31},
      {"<?xml version='1.0' standalone=yes?><r/>", ParseError::kInvalidStandaloneDeclaration, 1, 33},
      {"<?xml version='1.0' standalone='Yes'?><r/>", ParseError::kInvalidStandaloneValue, 1, 33},
      {"<?xml version='1.0' standalone='no' encoding='a'?><r/>", ParseError::kInvalidXmlDeclarationEnd, 1, 37},
      {"<r/><r/>", ParseError::kDataAfterRoot, 1, 6},
      {"<!DOCTYPE r><!DOCTYPE r><r/>", ParseError::kInvalidTagName, 1, 14},
      {"<!-- a -- b --><r/>", ParseError::kDoubleHyphenInComment, 1, 10},
      {"<!--->", ParseError::kIllegalCharacter, 1, 7},
      {"<r><!-- open", ParseError::kIllegalCharacter, 1, 13},  // the end inside a comment
      {"<r><? x?></r>", ParseError::kInvalidPiTarget, 1, 6},
      {"<r><?XmL x?></r>", ParseError::kReservedPiTarget, 1, 9},
      {"<r><![CDATA[x]]</r>", ParseError::kIllegalCharacter, 1, 20},
      {"<r><!x></r>", ParseError::kInvalidTagName, 1, 5},
      {"<r></rr>", ParseError::kEndTagMismatch, 1, 8},
      {"<r></r x>", ParseError::kInvalidEndTag, 1, 8},
      {"<r / >", ParseError::kInvalidEmptyTag, 1, 5},
      {"<r x='1'y='2'/>", ParseError::kInvalidEndTag, 1, 10},  // attributes need a blank between
      {"<r x/>", ParseError::kNoEqualSign, 1, 5},
      {"<r x='\x1b'/>", ParseError::kIllegalCharacter, 1, 8},
      {"<a\xC3\xA9/>", ParseError::kInvalidEndTag, 1, 5},  // a name byte is a single byte
      {"<r>& </r>", ParseError::kInvalidReference, 1, 5},
      {"<r>&AMP;</r>", ParseError::kUnknownEntityReference, 1, 9},
      {"<r>&#x;</r>", ParseError::kInvalidHexNumber, 1, 8},
      {"<r>&#X41;</r>", ParseError::kInvalidDecimalNumber, 1, 7},
      {"<r>&#65</r>", ParseError::kInvalidReference, 1, 8},
      // References to code points XML forbids; huge numbers do not wrap around.
      {"<r>&#0;</r>", ParseError::kIllegalCharacter, 1, 8},
      {"<r>&#xD800;</r>", ParseError::kIllegalCharacter, 1, 12},
      {"<r>&#xFFFF;</r>", ParseError::kIllegalCharacter, 1, 12},
      {"<r>&#4294967361;</r>", ParseError::kIllegalCharacter, 1, 17},  // 2^32 + 65
      {"<r x='&#8;'/>", ParseError::kIllegalCharacter, 1, 11},
      // A second attribute of one name, at its name (bytes compared, values not read).
      {"<a x=\"1\" x=\"<\"/>", ParseError::kDuplicateAttribute, 1, 10},
      {"<r><b x='1'/><b x='1' x='1'/></r>", ParseError::kDuplicateAttribute, 1, 23},
      // Each line end counts once, whatever its form; columns count from it.
      {"<r>\n\r\r\n\n</b>", ParseError::kEndTagMismatch, 5, 3},
      {"<r\r\nx\r\n=\r\n'1'\r\n\r\n/ >", ParseError::kInvalidEmptyTag, 6, 1},
      {"<r><!--\r\n\r\n\x01", ParseError::kIllegalCharacter, 3, 1},
      {"<r x='\r\n\r\n&bad;'/>", ParseError::kUnknownEntityReference, 3, 5},
      {"<r>\n  <b x='1'\n     y='2'\n     x='3'/></r>", ParseError::kDuplicateAttribute, 4, 5},
      // A UTF-8 document, whatever letter case names it, is held to it.
      {"<?xml version='1.0' encoding=\"Utf-8\" standalone='yes'?><a>\xC0\xAF</a>", ParseError::kInvalidUtf8, 1, 59},
      // An end tag is its start tag's name and a byte that cannot continue it.
      {"<md5>t</md>", ParseError::kEndTagMismatch, 1, 11},
      {"<md5>t</md5x>", ParseError::kEndTagMismatch, 1, 13},
      {"<md5>t</md5", ParseError::kInvalidEndTag, 1, 12},  // the end right after the name
      {"<md5>t</md5\xC3\xA9>", ParseError::kEndTagMismatch, 1, 13},  // 0xC3 continues a name as a single byte, 0xA9 does not
      {"<md5>t</md5\x80>", ParseError::kInvalidUtf8, 1, 12},  // checked before it is refused
      {"<md5>t</md5\xEF\xBF\xBF>", ParseError::kIllegalCharacter, 1, 12},
      {"<a\xC3\xB7>t</a\xC3\xB7\x80>", ParseError::kInvalidEndTag, 1, 12},
      {"<a\xC3\xB7>t</a\xC3\xB7\xFF>", ParseError::kInvalidUtf8, 1, 12},
      // The document type declaration, checked for syntax and dropped; -1: position not checked.
      {"<!DOCTYPE>", ParseError::kInvalidDoctype, 1, 10},
      {"<!DOCTYPE r [ <!-- c --> ]><r/>", ParseError::kInvalidDoctype, 1, 15},  // no comments in the subset
      {"<!DOCTYPE r [ ]", ParseError::kInvalidDoctype, 1, 16},
      {"<!DOCTYPE r SYSTEM 's' PUBLIC 'p' 's'><r/>", ParseError::kInvalidDoctype, 1, 24},
      {"<!DOCTYPE r [<!ENTITY e 'v", ParseError::kUnexpectedEndOfDocument, -1, -1},
      {"<!DOCTYPE r [<!ELEMENT r (a,b", ParseError::kUnexpectedEndOfDocument, -1, -1},
      {"<!DOCTYPE r [\r\n  <!ELEMENT r EMPTY>\r\n  <!ELEMENT s (a,b|c)>\r\n]><r/>", ParseError::kCommaExpected, 3, 19},  // just past the "|"
      {WithSubset("<!ELEMENT>"), ParseError::kInvalidElementDeclaration, -1, -1},
      {WithSubset("<!ELEMENT r (a|b,c)>"), ParseError::kBarExpected, -1, -1},
      {WithSubset("<!ELEMENT r ()>"), ParseError::kInvalidContentParticle, -1, -1},
      {WithSubset("<!ATTLIST r a CDATA #IMPLIED|>"), ParseError::kInvalidAttlistDeclaration, -1, -1},
      {WithSubset("<!ATTLIST r a CDATA #IMPLIED x>"), ParseError::kInvalidAttributeDefinition, -1, -1},
      {WithSubset("<!ATTLIST r a CDATA #FIXED'1'>"), ParseError::kInvalidFixedDeclaration, -1, -1},
      {WithSubset("<!ATTLIST r a NOTATION(n) #IMPLIED>"), ParseError::kInvalidNotationType, -1, -1},
      {WithSubset("<!ATTLIST r a () #IMPLIED>"), ParseError::kInvalidEnumeration, -1, -1},
      {WithSubset("<!ENTITY e>"), ParseError::kInvalidEntityDeclaration, -1, -1},
      {WithSubset("<!ENTITY e 'a&nbsp;b'>"), ParseError::kUnknownEntityReference, -1, -1},
      {WithSubset("<!ENTITY e 'a%pe b'>"), ParseError::kInvalidParameterEntity, -1, -1},
      {WithSubset("<!ENTITY e SYSTEM 's' NDATA>"), ParseError::kInvalidNdataDeclaration, -1, -1},
      {WithSubset("%pe"), ParseError::kInvalidParameterEntity, -1, -1},
      {WithSubset("<!ENTITY e SYSTEM>"), ParseError::kInvalidSystemLiteral, -1, -1},
      {WithSubset("<!ENTITY e PUBLIC 'a\tb' 's'>"), ParseError::kInvalidPublicLiteralChar, -1, -1},
      {WithSubset("<!NOTATION n PUBLIC>"), ParseError::kInvalidPublicLiteral, -1, -1},
      // One level too deep is refused just past its name; far too deep still answers, within the stack.
      {Nested(xmldoc::kMaxElementDepth + 1), ParseError::kElementsNestedTooDeeply, 1, 3 * (xmldoc::kMaxElementDepth + 1)},
      {NestedModel(xmldoc::kMaxParticleDepth + 1), ParseError::kInvalidContentParticle, -1, -1},
      {NestedModel(200000), ParseError::kInvalidContentParticle, -1, -1},
  };
  // clang-format on
  for (const auto& c : cases) ExpectParseFault(c.xml, c.code, c.line, c.column);
}

// Past a few attributes the parser stops comparing names one by one; the
// duplicate must still be found wherever it stands, and only there.
TEST(ParserTest, FindsTheDuplicateAttributeAmongMany) {
  const auto attributes = [](int count, std::string_view extra) {
    std::string text = "<a";
    for (int i = 0; i < count; ++i) text += " n" + std::to_string(i) + "=\"v\"";
    return text + std::string(extra) + "/>";
  };
  const auto document = ParseOrFail("<r>" + attributes(5000, "") + attributes(20, "") + "</r>");
  ASSERT_TRUE(document);
  EXPECT_EQ(20u, document->GetRoot().GetChildElement("a", 1).GetAttributes().size());
  // clang-format off
  for (const auto& [count, extra] : {std::pair{5000, " n0='w'"}, {5000, " n4999='w'"}, {17, " n16='w'"}, {16, " n15='w'"}, {16, " n0='w'"}, {15, " n3='w'"}}) {
    // clang-format on
    const std::string xml = attributes(count, extra);
    ExpectParseFault(xml, ParseError::kDuplicateAttribute, 1, static_cast<int>(xml.rfind(' ')) + 2);
  }
}

// ---- the bytes of a document

// Replaces the one '@' in `layout` with `bytes`.
std::string Place(std::string_view layout, std::string_view bytes) {
  std::string text(layout);
  return text.replace(text.find('@'), 1, bytes);
}

// Places where bytes of 0x80 and above may stand; '@' marks the sequence. The
// last ones are where a lead byte may continue a name as a single byte (and
// where a stray byte right after a name is met).
// clang-format off
constexpr std::string_view kPlaces[] = {
    "<a>xy@z</a>", "<a b=\"xy@z\"/>", "<a b='@'/>", "<a><!--xy@z--></a>", "<!--@--><a/>", "<a><?pi xy@z?></a>",
    "<a><![CDATA[xy@z]]></a>", "<!DOCTYPE a SYSTEM \"xy@z\"><a/>", "<!DOCTYPE a [<!ENTITY e \"xy@z\">]><a/>",
    "<!DOCTYPE a [<!ATTLIST a b CDATA \"xy@z\">]><a/>",
    "<ab@/>", "<a b@='1'/>", "<a><?pi@ x?></a>", "<a>&amp@;</a>", "<a></a@>",
};
constexpr std::size_t kTextPlaces = 10;
constexpr std::string_view kLatin1 = "<?xml version='1.0' encoding='ISO-8859-1'?>";
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

// The reader stands on the offending sequence's first byte, and the first
// line counts columns from 1.
TEST(ParserTest, RefusesIllFormedUtf8AtItsFirstByteAndKeepsTheRestByteForByte) {
  for (std::size_t place = 0; place < std::size(kPlaces); ++place) {
    const std::string_view layout = kPlaces[place];
    const int column = static_cast<int>(layout.find('@')) + 1;
    for (const std::string_view bytes : kIllFormed)
      ExpectParseFault(Place(layout, bytes), ParseError::kInvalidUtf8, 1, column);
    if (place >= kTextPlaces) continue;
    // Raw U+FFFE and U+FFFF are refused as their references are.
    for (const std::string_view bytes : {"\xEF\xBF\xBE"sv, "\xEF\xBF\xBF"sv})
      ExpectParseFault(Place(layout, bytes), ParseError::kIllegalCharacter, 1, column);
    for (const std::string_view bytes : kWellFormed)
      EXPECT_TRUE(ParseOrFail(Place(layout, bytes))) << layout;
    // A document that names another encoding keeps whatever bytes it holds.
    for (const std::string_view bytes : {kIllFormed[0], kIllFormed[14], "\xEF\xBF\xBF"sv})
      EXPECT_TRUE(ParseOrFail(std::string(kLatin1) + Place(layout, bytes)));
  }
  for (const std::string_view bytes : kWellFormed) {
    const std::string text(bytes);
    const auto document = ParseOrFail("<a b='" + text + "'>" + text + "</a>");
    ASSERT_TRUE(document);
    EXPECT_EQ(text + text,
              document->GetRoot().GetText() + document->GetRoot().FindAttribute("b").GetText());
  }
  // Cut short by the end of input; and the lines before the sequence count.
  for (const std::string_view xml :
       {"<a>\xC3"sv, "<a>xy\xE2\x82"sv, "<a b='\xF0\x9F\x98"sv, "<a><!--\xE2"sv, "<a\xC3"sv})
    ExpectParseFault(xml, ParseError::kInvalidUtf8, 1,
                     static_cast<int>(xml.find_first_of("\xC3\xE2\xF0")) + 1);
  ExpectParseFault("<a>\r\nline\n  \xC0\x80</a>", ParseError::kInvalidUtf8, 3, 2);
  ExpectParseFault("<a b='x\n\xE0\x80\x80'/>", ParseError::kInvalidUtf8, 2, 0);
}

// One parser, document after document: nothing of the one before stays, not
// its encoding, not its line count, not its failure.
TEST(ParserTest, OneParserForgetsTheDocumentBefore) {
  xmldoc::Parser parser;
  const std::string latin = std::string(kLatin1) + "<a b='\xFF\x80'>\n\n\xC5\x81\xC0</a>";
  EXPECT_EQ("\xC5\x81\xC0", parser.Parse(latin.data(), latin.size())->GetRoot().GetText());
  for (const std::string_view xml : {"<a>\xE9</a>"sv, "<z/>"sv}) {
    try {
      EXPECT_EQ("z", parser.Parse(xml.data(), xml.size())->GetRoot().GetName());
    } catch (const xmldoc::ParsingException& e) {
      EXPECT_EQ(14, e.line * 10 + e.column);  // the UTF-8 fault, on the first line
    }
  }
}

// Where the byte that ends a run is put: the run's first byte, around the
// first and second block edges, and far in.
constexpr int kOffsets[] = {0, 1, 14, 15, 16, 17, 31, 32, 33, 47, 64};

std::string Filler(int count) { return std::string(static_cast<std::size_t>(count), 'x'); }

// '@' in `layout` stands for the filler, '#' for what is put between.
std::string Fill(std::string_view layout, int before, std::string_view between) {
  std::string text(layout);
  text.replace(text.find('#'), 1, between);
  return text.replace(text.find('@'), 1, Filler(before));
}

// A run in text and in an attribute value, as parsed and as described.
constexpr std::string_view kInText[] = {"<a>@#xxxxx</a>", "a[\"@#xxxxx\"]"};
constexpr std::string_view kInValue[] = {"<a v=\"@#xxx\"/>", "a(v=\"@#xxx\")"};

TEST(ParserTest, EndsARunAtWhatEndsItAtEveryOffset) {
  // `described`: the bytes put between as the tree shows them; null: refused
  // with `code`, `pastFault` columns past their first byte (a refused byte
  // that was read counts; a sequence is reported at its first byte).
  // clang-format off
  const struct { std::string_view between; const char* described; bool inValue; ParseError code = {}; int pastFault = 0; } cases[] = {
      {"&amp;", "\" &amp; \"", false},
      {"<b/>", "\" b \"", false},
      {"]", "]", false},  // a lone "]" stays in the text
      {"\t", "\t", false},
      {"\x7F", "\x7F", false},  // DEL is text
      {"\r\n", "\r\n", false},
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", false},
      {"&amp;", "\"&amp;\"", true},
      {"'", "'", true},  // the other quote is part of the value
      {"]]>", "]]>", true},
      {"\n", "\n", true},
      {"\xC3\xA9", "\xC3\xA9", true},
      {"", "", true},  // the closing quote itself
      {"\x01", nullptr, false, ParseError::kIllegalCharacter, 1},
      {"\xC3(", nullptr, false, ParseError::kInvalidUtf8},
      {"\xEF\xBF\xBF", nullptr, false, ParseError::kIllegalCharacter},  // U+FFFF
      {"]]>", nullptr, false, ParseError::kCDataEndInText, 3},
      {"<", nullptr, true, ParseError::kUnexpectedTag, 1},
      {"\xFF", nullptr, true, ParseError::kInvalidUtf8},
  };
  // clang-format on
  for (const int before : kOffsets) {
    for (const auto& c : cases) {
      const auto& layout = c.inValue ? kInValue : kInText;
      if (c.described == nullptr) {  // a whole block follows the fault
        ExpectParseFault(Fill(layout[0], before, std::string(c.between) + Filler(20)), c.code, 1,
                         static_cast<int>(layout[0].find('@')) + before + 1 + c.pastFault);
        continue;
      }
      const auto document = ParseOrFail(Fill(layout[0], before, c.between));
      ASSERT_TRUE(document);
      EXPECT_EQ(Fill(layout[1], before, c.described), DescribeTree(*document));
    }
    for (const std::string_view start : {"<a>", "<a v='"})  // the end of input
      ExpectParseFault(std::string(start) + Filler(before), ParseError::kUnexpectedEndOfDocument, 1,
                       static_cast<int>(start.size()) + before + 1);
    // Line ends around the block edges: every one counted once, CR LF as one.
    for (const std::string_view lineEnd : {"\n", "\r\n", "\r"}) {
      ExpectParseFault("<a>" + Filler(before) + std::string(lineEnd) + Filler(before) +
                           std::string(lineEnd) + "  \x01</a>",
                       ParseError::kIllegalCharacter, 3, 3);
    }
    // In ISO-8859-1 bytes of 0x80 and above are plain text; a run full of
    // them must still stop at the reference and the tag behind them.
    const std::string text = Filler(before) + "\xE9\xFF\x80\xA0" + Filler(before);
    const auto document = ParseOrFail(std::string(kLatin1) + "<a v='" + text + "&amp;" + text +
                                      "'>" + text + "&amp;" + text + "</a>");
    ASSERT_TRUE(document);
    const std::string quoted = "\"" + text + "\"";
    EXPECT_EQ("a(v=" + quoted + "&amp;" + quoted + ")[" + quoted + " &amp; " + quoted + "]",
              DescribeTree(*document));
  }
}

}  // namespace
