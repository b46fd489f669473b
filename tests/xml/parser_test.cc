// tests/xml/parser_test.cc: the document grammar, from text to tree shape or
// to the code and position of the first fault.
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
using brevick::testing::ParseExpectingFailure;
using brevick::testing::ParseOrFail;
using brevick::testing::WriteDocument;
using xmldoc::ParseError;
using namespace std::string_view_literals;

TEST(ParserTest, BuildsTheTreeWithEveryBoundaryReferenceAndAttribute) {
  const struct {
    std::string_view xml, tree;
  } cases[] = {
      // clang-format off
      {"<a/>", "a"},
      {"<a></a >", "a[\"\"]"},
      {"<a><b/><c/></a>", "a[\"\" b \"\" c \"\"]"},
      {"<a>x<b>y</b>z</a>", "a[\"x\" b[\"y\"] \"z\"]"},
      {"<a>\n  <b/>\n</a>", "a[\"\n  \" b \"\n\"]"},
      {"<a><!--c--><?p d?><![CDATA[<&]]></a>", "a[\"\" #\"c\" \"\" ?p\"d\" \"\" cdata\"<&\" \"\"]"},
      {"<a>]]x]</a>", "a[\"]]x]\"]"},  // "]]" not followed by ">" is text
      {"<a>1\r\n2\r3</a>", "a[\"1\r\n2\r3\"]"},  // line ends stay as they stood
      {"<p:a xmlns:p='u'><p:b/></p:a>", "p:a(xmlns:p=\"u\")[\"\" p:b \"\"]"},
      // In a document that is not UTF-8, single bytes from 0xC0 continue a name.
      {"<?xml version='1.0' encoding='ISO-8859-1'?><a\xB7\xC0\xD8\xFF/>", "a\xB7\xC0\xD8\xFF"},
      {"<a>x&amp;y</a>", "a[\"x\" &amp; \"y\"]"},
      {"<a>&lt;&gt;&apos;&quot;</a>", "a[\"\" &lt; \"\" &gt; \"\" &apos; \"\" &quot; \"\"]"},
      {"<a>&#65;&#x41;&#x141;&#x1F600;</a>", "a[\"\" &#x41; \"\" &#x41; \"\" &#x141; \"\" &#x1F600; \"\"]"},
      {"<a>&#0000009;&#xa;&#xD;</a>", "a[\"\" &#x9; \"\" &#xA; \"\" &#xD; \"\"]"},
      {"<r>&#256;&#xFFFD;&#x10FFFF;&#xE000;&#xD7FF;</r>", "r[\"\" &#x100; \"\" &#xFFFD; \"\" &#x10FFFF; \"\" &#xE000; \"\" &#xD7FF; \"\"]"},
      {"<a x='a &amp; b' y='&#x141;'/>", "a(x=\"a \"&amp;\" b\" y=\"\"&#x141;\"\")"},
      {"<a x = \"1\"\ty\n=\n'2' />", "a(x=\"1\" y=\"2\")"},
      {"<a x=\"1\" X=\"2\" xx=\"3\"/>", "a(x=\"1\" X=\"2\" xx=\"3\")"},
      {"<a x=\"it's\" y='say \"hi\"' z=\"\"/>", "a(x=\"it's\" y=\"say \"hi\"\" z=\"\")"},
      {"<a x=\" 1\r\n\t2 \"/>", "a(x=\" 1\r\n\t2 \")"},  // values kept as they stand
      {"<a x=123 y='z'></a>", "a(x=~\"123\" y=\"z\")[\"\"]"},
      {"<a x=></a>", "a(x=~\"\")[\"\"]"},  // an empty run of digits
      {"<!--a--><?p?>\n <r/> <!--b-->\n<?q  x ?>", "#\"a\" ?p\"\" r #\"b\" ?q\"x \""},
      {"<!---->\n<r/>", "#\"\" r"},
      {"<r/>\0garbage"sv, "r"},  // a zero byte ends the input
      // clang-format on
  };
  for (const auto& c : cases) {
    const auto document = ParseOrFail(c.xml);
    ASSERT_TRUE(document) << c.xml;
    EXPECT_EQ(c.tree, DescribeTree(*document)) << c.xml;
  }
  const auto document = ParseOrFail("<!--a--><r/><!--b-->");
  ASSERT_TRUE(document);
  EXPECT_EQ("r", document->GetRoot().GetName());
}

TEST(ParserTest, FillsTheDeclarationFieldsAndPreserveSpace) {
  const struct {
    std::string_view xml, version, encoding;
    bool standalone;
  } cases[] = {
      // clang-format off
      {"<r/>", "1.0", "UTF-8", true},
      {"<?xml version=\"1.0\"?><r/>", "1.0", "UTF-8", true},
      {"<?xml version='1.1' encoding='ISO-8859-1' standalone='no' ?>\n<r/>", "1.1", "ISO-8859-1", false},
      {"<?xml version = \"x_:.-9\"  encoding=\"a.b-c_9\" standalone=\"yes\"?><r/>", "x_:.-9", "a.b-c_9", true},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.xml));
    const auto document = ParseOrFail(c.xml);
    ASSERT_TRUE(document);
    EXPECT_EQ(c.version, document->GetVersion());
    EXPECT_EQ(c.encoding, document->GetEncoding());
    EXPECT_EQ(c.standalone, document->IsStandalone());
  }
  const auto document = ParseOrFail(
      "<r xml:space='preserve'><a xml:space='default'/><b xml:space='x'/><c/><d "
      "xml:space='pre&#x73;erve'/></r>");
  ASSERT_TRUE(document);
  const xmldoc::Element& root = document->GetRoot();
  EXPECT_TRUE(root.IsPreserveSpace());
  EXPECT_FALSE(root.GetChildElement("a").IsPreserveSpace());
  EXPECT_FALSE(root.GetChildElement("b").IsPreserveSpace());  // only "preserve" sets it
  EXPECT_FALSE(root.GetChildElement("c").IsPreserveSpace());  // not inherited
  EXPECT_TRUE(root.GetChildElement("d").IsPreserveSpace());   // judged on the value's text
}

TEST(ParserTest, ParsesSeveralBuffersWithOneParserAndWritesThemInTheToolsLayout) {
  xmldoc::Parser parser;
  const std::string_view first =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a x='1' y=2>\n  <b>t&amp;&#x141;</b>\n  "
      "<c/>\n</a>";
  EXPECT_EQ(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a x=\"1\" y=2> \n    <b>t&amp;&#x141;</b> \n   "
      " <c/> \n</a>",
      WriteDocument(*parser.Parse(first.data(), first.size())));
  const std::string_view second = "<a></c>";
  try {
    parser.Parse(second.data(), second.size());
    ADD_FAILURE() << "parsed";
  } catch (const xmldoc::ParsingException& e) {
    EXPECT_EQ(ParseError::kEndTagMismatch, e.errorCode);
    EXPECT_EQ(1, e.line);  // the lines of the first buffer are forgotten
    EXPECT_EQ(7, e.column);
  }
  const std::string_view third = "<z/>";
  EXPECT_EQ("z", parser.Parse(third.data(), third.size())->GetRoot().GetName());
}

TEST(ParserTest, RefusesMalformedInputWithItsCodeAndPosition) {
  const struct {
    std::string_view xml;
    ParseError code;
    int line, column;
  } cases[] = {
      // clang-format off
      {"", ParseError::kNoRootElement, 1, 1},
      {"   ", ParseError::kNoRootElement, 1, 4},
      {"\xEF\xBB\xBF<r/>", ParseError::kNoRootElement, 1, 1},  // a byte-order mark is not skipped
      {"text<r/>", ParseError::kNoRootElement, 1, 1},
      {" <?xml version='1.0'?><r/>", ParseError::kReservedPiTarget, 1, 7},
      {"<?xml-stylesheet href='a'?><r/>", ParseError::kInvalidXmlDeclarationVersion, 1, 6},
      {"<?xml?><r/>", ParseError::kInvalidXmlDeclarationVersion, 1, 6},
      {"<?xml version=1.0?><r/>", ParseError::kInvalidXmlDeclarationVersion, 1, 16},
      {"<?xml version=''?><r/>", ParseError::kInvalidXmlDeclarationVersion, 1, 16},
      {"<?xml version='1.0\"?><r/>", ParseError::kInvalidXmlDeclarationVersion, 1, 19},
      {"<?xml version '1.0'?><r/>", ParseError::kNoEqualSign, 1, 14},
      {"<?xml version='1.0'encoding='a'?><r/>", ParseError::kInvalidXmlDeclarationEnd, 1, 20},
      {"<?xml version='1.0' encoding=a?><r/>", ParseError::kInvalidEncodingDeclaration, 1, 31},
      {"<?xml version='1.0' encoding='9'?><r/>", ParseError::kInvalidEncodingName, 1, 31},
      {"<?xml version='1.0' encoding='a\"?><r/>", ParseError::kInvalidEncodingName, 1, 32},
      {"<?xml version='1.0' standalone=yes?><r/>", ParseError::kInvalidStandaloneDeclaration, 1, 33},
      {"<?xml version='1.0' standalone='Yes'?><r/>", ParseError::kInvalidStandaloneValue, 1, 33},
      {"<?xml version='1.0' standalone='no\"?><r/>", ParseError::kInvalidStandaloneValue, 1, 35},
      {"<?xml version='1.0' standalone='no' encoding='a'?><r/>", ParseError::kInvalidXmlDeclarationEnd, 1, 37},
      {"<?xml version='1.0' ?<r/>", ParseError::kInvalidXmlDeclarationEnd, 1, 21},
      {"<r/><r/>", ParseError::kDataAfterRoot, 1, 6},
      {"<r/>x", ParseError::kDataAfterRoot, 1, 6},
      {"<r/><!DOCTYPE r>", ParseError::kDataAfterRoot, 1, 6},
      {"<!DOCTYPE r><!DOCTYPE r><r/>", ParseError::kInvalidTagName, 1, 14},
      {"<!-- a -- b --><r/>", ParseError::kDoubleHyphenInComment, 1, 10},
      {"<!--->", ParseError::kIllegalCharacter, 1, 7},
      {"<r><!-- open", ParseError::kIllegalCharacter, 1, 13},  // the end inside a comment
      {"<!-- \x01 --><r/>", ParseError::kIllegalCharacter, 1, 7},
      {"<r><? x?></r>", ParseError::kInvalidPiTarget, 1, 6},
      {"<r><?XmL x?></r>", ParseError::kReservedPiTarget, 1, 9},
      {"<r><?p \x1f?></r>", ParseError::kIllegalCharacter, 1, 9},
      {"<r><?p x", ParseError::kIllegalCharacter, 1, 9},
      {"<r><![CDATA[x]]</r>", ParseError::kIllegalCharacter, 1, 20},
      {"<r><![CDATA[\x02]]></r>", ParseError::kIllegalCharacter, 1, 14},
      {"<r>", ParseError::kUnexpectedEndOfDocument, 1, 4},
      {"<r>text", ParseError::kUnexpectedEndOfDocument, 1, 8},
      {"<r>a\0b</r>"sv, ParseError::kUnexpectedEndOfDocument, 1, 6},
      {"<r>\x07</r>", ParseError::kIllegalCharacter, 1, 5},
      {"<r>a]]>b</r>", ParseError::kCDataEndInText, 1, 8},
      {"<r><!x></r>", ParseError::kInvalidTagName, 1, 5},
      {"<r></>", ParseError::kInvalidTagName, 1, 6},
      {"<r>< a/></r>", ParseError::kInvalidTagName, 1, 5},
      {"<1/>", ParseError::kInvalidTagName, 1, 2},
      {"<r></b>", ParseError::kEndTagMismatch, 1, 7},
      {"<r></rr>", ParseError::kEndTagMismatch, 1, 8},
      {"<rr></r>", ParseError::kEndTagMismatch, 1, 8},
      {"<r></r x>", ParseError::kInvalidEndTag, 1, 8},
      {"<r / >", ParseError::kInvalidEmptyTag, 1, 5},
      {"<r x='1'y='2'/>", ParseError::kInvalidEndTag, 1, 10},  // attributes need a blank between
      {"<r x='1' ?>", ParseError::kInvalidEndTag, 1, 11},
      {"<r x/>", ParseError::kNoEqualSign, 1, 5},
      {"<r x=abc/>", ParseError::kInvalidEndTag, 1, 7},
      {"<r x='a<b'/>", ParseError::kUnexpectedTag, 1, 9},
      {"<r x='a", ParseError::kUnexpectedEndOfDocument, 1, 8},
      {"<r x='a\0'/>"sv, ParseError::kUnexpectedEndOfDocument, 1, 9},
      {"<r x='\x1b'/>", ParseError::kIllegalCharacter, 1, 8},
      {"<r x=", ParseError::kInvalidEndTag, 1, 6},
      {"<a\xC3\xA9/>", ParseError::kInvalidEndTag, 1, 5},  // a name byte is a single byte
      {"<r>& </r>", ParseError::kInvalidReference, 1, 5},
      {"<r>&amp </r>", ParseError::kInvalidReference, 1, 8},
      {"<r>&nbsp;</r>", ParseError::kUnknownEntityReference, 1, 10},
      {"<r>&AMP;</r>", ParseError::kUnknownEntityReference, 1, 9},
      {"<r x='&foo;'/>", ParseError::kUnknownEntityReference, 1, 12},
      {"<r>&#x;</r>", ParseError::kInvalidHexNumber, 1, 8},
      {"<r>&#X41;</r>", ParseError::kInvalidDecimalNumber, 1, 7},
      {"<r>&#;</r>", ParseError::kInvalidDecimalNumber, 1, 7},
      {"<r>&#65</r>", ParseError::kInvalidReference, 1, 8},
      {"<r>&#x41 </r>", ParseError::kInvalidReference, 1, 9},
      // References to code points XML forbids; huge numbers do not wrap around.
      {"<r>&#0;</r>", ParseError::kIllegalCharacter, 1, 8},
      {"<r>&#x1F;</r>", ParseError::kIllegalCharacter, 1, 10},
      {"<r>&#xD800;</r>", ParseError::kIllegalCharacter, 1, 12},
      {"<r>&#xDFFF;</r>", ParseError::kIllegalCharacter, 1, 12},
      {"<r>&#xFFFE;</r>", ParseError::kIllegalCharacter, 1, 12},
      {"<r>&#xFFFF;</r>", ParseError::kIllegalCharacter, 1, 12},
      {"<r>&#x110000;</r>", ParseError::kIllegalCharacter, 1, 14},
      {"<r>&#99999999999999999999;</r>", ParseError::kIllegalCharacter, 1, 27},
      {"<r>&#4294967361;</r>", ParseError::kIllegalCharacter, 1, 17},  // 2^32 + 65
      {"<r>&#x100000041;</r>", ParseError::kIllegalCharacter, 1, 17},
      {"<r x='&#8;'/>", ParseError::kIllegalCharacter, 1, 11},
      // Each line end counts once, whatever its form; columns count from it.
      {"<r>\n\n</b>", ParseError::kEndTagMismatch, 3, 3},
      {"<r>\r\n\r\n</b>", ParseError::kEndTagMismatch, 3, 3},
      {"<r>\r\r</b>", ParseError::kEndTagMismatch, 3, 3},
      {"<r>\n\r\r\n\n</b>", ParseError::kEndTagMismatch, 5, 3},
      {"<r\r\nx\r\n=\r\n'1'\r\n\r\n/ >", ParseError::kInvalidEmptyTag, 6, 1},
      {"<r><!--\r\n\r\n\x01", ParseError::kIllegalCharacter, 3, 1},
      {"<r x='\r\n\r\n&bad;'/>", ParseError::kUnknownEntityReference, 3, 5},
      // clang-format on
  };
  for (const auto& c : cases) ExpectParseFault(c.xml, c.code, c.line, c.column);
}

std::string Nested(int depth) {
  std::string xml;
  for (int i = 0; i < depth; ++i) xml += "<e>";
  for (int i = 0; i < depth; ++i) xml += "</e>";
  return xml;
}

TEST(ParserTest, AcceptsNestingUpToTheLimitAndRefusesOneMore) {
  const auto document = ParseOrFail(Nested(xmldoc::kMaxElementDepth));
  ASSERT_TRUE(document);
  const xmldoc::Node* node = &document->GetRoot();
  int depth = 1;
  for (; static_cast<const xmldoc::Element*>(node)->GetChildren().size() == 3; ++depth)
    node = static_cast<const xmldoc::Element*>(node)->GetChildren()[1].get();
  EXPECT_EQ(xmldoc::kMaxElementDepth, depth);
  // Refused just past the name of the element one too deep.
  ExpectParseFault(Nested(xmldoc::kMaxElementDepth + 1), ParseError::kElementsNestedTooDeeply, 1,
                   3 * (xmldoc::kMaxElementDepth + 1));
}

TEST(ParserTest, RefusesEveryTruncationOfADocumentWithoutCrashing) {
  const std::string_view xml =
      "<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\r\n"
      "<!DOCTYPE m [<!ELEMENT m (a|b)*><!ATTLIST m x CDATA #IMPLIED>"
      "<!ENTITY e 'v&amp;'><!NOTATION n PUBLIC 'p'>%pe;]>\n"
      "<!--c--><?p d?>\n"
      "<m x='1&amp;&#x141;' y=22>\n"
      "  <a>t&lt;&#65;<![CDATA[c]]><!--k--><?q?></a>\n"
      "  <b/>\r"
      "</m>\n<!--after-->";
  ASSERT_TRUE(ParseOrFail(xml));
  // Only the prefixes that end after the root's end tag are documents.
  const std::size_t lastRequired = xml.find("</m>") + 4;
  for (std::size_t length = 0; length < xml.size(); ++length) {
    try {
      xmldoc::Parser().Parse(xml.data(), length);
      EXPECT_GE(length, lastRequired);
    } catch (const xmldoc::ParsingException& e) {
      EXPECT_NE(ParseError::kNoError, e.errorCode) << length;
      EXPECT_GE(e.line, 1);
    }
  }
}

}  // namespace
