// tests/xml/parser_dtd_test.cc: the document type declaration is checked for
// syntax and dropped; malformed declarations are refused with their codes.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tests/support/xml_parse_helpers.h"
#include "xml/document.h"
#include "xml/element.h"
#include "xml/exception.h"
#include "xml/parser.h"

namespace {

using brevick::testing::DescribeTree;
using brevick::testing::ExpectParseFault;
using brevick::testing::ParseOrFail;
using xmldoc::ParseError;

// The internal subset is wrapped around a fixed body, so that a case states
// only the declarations it is about.
std::string WithSubset(std::string_view subset) {
  return "<!DOCTYPE r [" + std::string(subset) + "]>\n<r a='1'>t</r>";
}

TEST(ParserDtdTest, LeavesNoTraceOfAWellFormedDoctype) {
  const std::string_view body = "<!--c-->\n<r a='1'>t&amp;<e/></r>";
  const std::string_view doctypes[] = {
      "<!DOCTYPE r>",
      "<!DOCTYPE r >",
      "<!DOCTYPE r SYSTEM 'r.dtd'>",
      "<!DOCTYPE r PUBLIC \"-//Brevick//DTD r//EN\" \"r.dtd\">",
      "<!DOCTYPE r[]>",
      "<!DOCTYPE r SYSTEM \"r.dtd\" [ ] >",
      "<!DOCTYPE r [\n"
      "  <!ELEMENT r (#PCDATA|e)*>\n"
      "  <!ELEMENT e EMPTY>\n"
      "  <!ELEMENT f ANY>\n"
      "  <!ELEMENT g (#PCDATA)>\n"
      "  <!ELEMENT h ( #PCDATA )*>\n"
      "  <!ELEMENT i ((a , b?)*, (c | d | (e, f))+, g?)>\n"
      "  <!ELEMENT j (k)>\n"
      "  <!ATTLIST r a CDATA #REQUIRED b ID #IMPLIED c IDREF '' d IDREFS \"x y\"\n"
      "              e ENTITY #IMPLIED f ENTITIES #IMPLIED g NMTOKEN #IMPLIED\n"
      "              h NMTOKENS #IMPLIED i NOTATION ( n | m ) 'n' j (1|b.c|-d) #FIXED '1'\n"
      "              k CDATA 5 l CDATA 'a&amp;&#x141;'>\n"
      "  <!ATTLIST e>\n"
      "  <!ENTITY g1 'v &amp; &#65; %pe; <x>'>\n"
      "  <!ENTITY g2 SYSTEM 'g2.xml'>\n"
      "  <!ENTITY g3 PUBLIC '-//P//EN' \"g3.bin\" NDATA n>\n"
      "  <!ENTITY % pe \"p\">\n"
      "  <!ENTITY % pe2 SYSTEM 'pe2.ent'>\n"
      "  <!NOTATION n SYSTEM 'viewer'>\n"
      "  <!NOTATION m PUBLIC '-//M//EN'>\n"
      "  <!NOTATION o PUBLIC '-//O//EN' 'o.exe'>\n"
      "  %pe;\n"
      "]>",
  };
  const auto plain = ParseOrFail(body);
  ASSERT_TRUE(plain);
  for (const std::string_view doctype : doctypes) {
    SCOPED_TRACE(std::string(doctype));
    const auto document = ParseOrFail(std::string(doctype) + "\n" + std::string(body));
    ASSERT_TRUE(document);
    EXPECT_EQ(DescribeTree(*plain), DescribeTree(*document));
    EXPECT_EQ("r", document->GetRoot().GetName());
  }
}

TEST(ParserDtdTest, RefusesAMalformedDoctypeOrTheEndInsideIt) {
  const struct {
    std::string_view xml;
    int column;
  } cases[] = {
      // clang-format off
      {"<!DOCTYPE>", 10},
      {"<!DOCTYPEr>", 10},
      {"<!DOCTYPE 1>", 11},
      {"<!DOCTYPE r [ <!-- c --> ]><r/>", 15},  // no comments in the subset
      {"<!DOCTYPE r [ <?p?> ]><r/>", 15},  // nor PIs
      {"<!DOCTYPE r [ x ]><r/>", 15},
      {"<!DOCTYPE r [ ]", 16},
      {"<!DOCTYPE r [", 14},
      {"<!DOCTYPE r [] x><r/>", 16},
      {"<!DOCTYPE r SYSTEM 's' PUBLIC 'p' 's'><r/>", 24},
      // clang-format on
  };
  for (const auto& c : cases) ExpectParseFault(c.xml, ParseError::kInvalidDoctype, 1, c.column);
  // clang-format off
  for (const std::string_view xml : {"<!DOCTYPE r [<!ENTITY e 'v", "<!DOCTYPE r SYSTEM 's", "<!DOCTYPE r PUBLIC 'p",
                                     "<!DOCTYPE r [<!ELEMENT r (a", "<!DOCTYPE r [<!ELEMENT r (a,b", "<!DOCTYPE r [<!ATTLIST r a CDATA 'v"})
    ExpectParseFault(xml, ParseError::kUnexpectedEndOfDocument);
  // clang-format on
  ExpectParseFault("<!DOCTYPE r [\r\n  <!ELEMENT r EMPTY>\r\n  <!ELEMENT s (a,b|c)>\r\n]><r/>",
                   ParseError::kCommaExpected, 3, 19);  // just past the "|"
}

TEST(ParserDtdTest, RefusesMalformedDeclarationsWithTheirCodes) {
  const struct {
    std::string_view subset;
    ParseError code;
  } cases[] = {
      // clang-format off
      // element type declarations and content models
      {"<!ELEMENT>", ParseError::kInvalidElementDeclaration},
      {"<!ELEMENT r>", ParseError::kInvalidElementDeclaration},
      {"<!ELEMENT r EMPTY x>", ParseError::kInvalidElementDeclaration},
      {"<!ELEMENT r empty>", ParseError::kInvalidElementDeclaration},
      {"<!ELEMENT r (a,b|c)>", ParseError::kCommaExpected},
      {"<!ELEMENT r (a|b,c)>", ParseError::kBarExpected},
      {"<!ELEMENT r (a;b)>", ParseError::kCommaExpected},
      {"<!ELEMENT r (a|b;c)>", ParseError::kBarExpected},
      {"<!ELEMENT r ()>", ParseError::kInvalidContentParticle},
      {"<!ELEMENT r (a|)>", ParseError::kInvalidContentParticle},
      {"<!ELEMENT r (a,(b|))>", ParseError::kInvalidContentParticle},
      {"<!ELEMENT r (#PCDATA|a)>", ParseError::kBarExpected},  // names need ")*"
      {"<!ELEMENT r (#PCDATA a)*>", ParseError::kBarExpected},
      {"<!ELEMENT r (#PCDATA||a)*>", ParseError::kInvalidContentParticle},
      {"<!ELEMENT r (#PCDATA|)*>", ParseError::kInvalidContentParticle},
      // attribute-list declarations
      {"<!ATTLIST>", ParseError::kInvalidAttlistDeclaration},
      {"<!ATTLIST r a CDATA #IMPLIED|>", ParseError::kInvalidAttlistDeclaration},
      {"<!ATTLIST r a CDATA #IMPLIED x>", ParseError::kInvalidAttributeDefinition},
      {"<!ATTLIST r a>", ParseError::kInvalidAttributeDefinition},
      {"<!ATTLIST r a CDATA>", ParseError::kInvalidAttributeDefinition},  // no blank before ">"
      {"<!ATTLIST r a STRING #IMPLIED>", ParseError::kInvalidAttributeDefinition},
      {"<!ATTLIST r a IDX #IMPLIED>", ParseError::kInvalidAttributeDefinition},
      {"<!ATTLIST r a CDATA #FIXED'1'>", ParseError::kInvalidFixedDeclaration},
      {"<!ATTLIST r a CDATA 'x<y'>", ParseError::kUnexpectedTag},
      {"<!ATTLIST r a CDATA '&nbsp;'>", ParseError::kUnknownEntityReference},
      {"<!ATTLIST r a NOTATION(n) #IMPLIED>", ParseError::kInvalidNotationType},
      {"<!ATTLIST r a NOTATION n #IMPLIED>", ParseError::kInvalidNotationType},
      {"<!ATTLIST r a NOTATION (1) #IMPLIED>", ParseError::kInvalidNotationType},
      {"<!ATTLIST r a NOTATION (n|) #IMPLIED>", ParseError::kInvalidNotationType},
      {"<!ATTLIST r a NOTATION (n m) #IMPLIED>", ParseError::kInvalidNotationType},
      {"<!ATTLIST r a () #IMPLIED>", ParseError::kInvalidEnumeration},
      {"<!ATTLIST r a (x|?) #IMPLIED>", ParseError::kInvalidEnumeration},
      {"<!ATTLIST r a (x y) #IMPLIED>", ParseError::kInvalidEnumeration},
      // entity declarations and parameter-entity references
      {"<!ENTITY>", ParseError::kInvalidEntityDeclaration},
      {"<!ENTITY e>", ParseError::kInvalidEntityDeclaration},
      {"<!ENTITY e v>", ParseError::kInvalidEntityDeclaration},
      {"<!ENTITY %pe 'v'>", ParseError::kInvalidEntityDeclaration},
      {"<!ENTITY % pe 'v' NDATA n>", ParseError::kInvalidEntityDeclaration},
      {"<!ENTITY e 'v' x>", ParseError::kInvalidEntityDeclaration},
      {"<!ENTITY e 'a&nbsp;b'>", ParseError::kUnknownEntityReference},
      {"<!ENTITY e 'a& b'>", ParseError::kInvalidReference},
      {"<!ENTITY e 'a&#xD800;'>", ParseError::kIllegalCharacter},
      {"<!ENTITY e 'a%pe b'>", ParseError::kInvalidParameterEntity},
      {"<!ENTITY e 'a\x01'>", ParseError::kIllegalCharacter},
      {"<!ENTITY e SYSTEM 's' NDATA>", ParseError::kInvalidNdataDeclaration},
      {"<!ENTITY e SYSTEM 's' NDATA 1>", ParseError::kInvalidNdataDeclaration},
      {"%pe", ParseError::kInvalidParameterEntity},
      {"% pe;", ParseError::kInvalidParameterEntity},
      // external identifiers and literals
      {"<!ENTITY e SYSTEM>", ParseError::kInvalidSystemLiteral},
      {"<!ENTITY e SYSTEM s>", ParseError::kInvalidSystemLiteral},
      {"<!ENTITY e PUBLIC 'p'>", ParseError::kInvalidSystemLiteral},
      {"<!ENTITY e PUBLIC 'p''s'>", ParseError::kInvalidSystemLiteral},
      {"<!ENTITY e SYSTEM 'a\x02'>", ParseError::kIllegalCharacter},
      {"<!ENTITY e PUBLIC 'a\tb' 's'>", ParseError::kInvalidPublicLiteralChar},
      {"<!ENTITY e PUBLIC 'a\"b' 's'>", ParseError::kInvalidPublicLiteralChar},
      {"<!ENTITY e PUBLIC 'a{' 's'>", ParseError::kInvalidPublicLiteralChar},
      // notation declarations
      {"<!NOTATION>", ParseError::kInvalidNotationDeclaration},
      {"<!NOTATION n>", ParseError::kInvalidNotationDeclaration},
      {"<!NOTATION n 's'>", ParseError::kInvalidNotationDeclaration},
      {"<!NOTATION n SYSTEM 's' x>", ParseError::kInvalidNotationDeclaration},
      {"<!NOTATION n SYSTEM>", ParseError::kInvalidSystemLiteral},
      {"<!NOTATION n PUBLIC>", ParseError::kInvalidPublicLiteral},
      {"<!NOTATION n PUBLIC s>", ParseError::kInvalidPublicLiteral},
      // clang-format on
  };
  for (const auto& c : cases) ExpectParseFault(WithSubset(c.subset), c.code);
}

std::string NestedModel(int depth) {
  return "<!DOCTYPE r [<!ELEMENT r " + std::string(depth, '(') + "a" + std::string(depth, ')') +
         ">]><r/>";
}

TEST(ParserDtdTest, BoundsTheNestingOfContentModels) {
  EXPECT_TRUE(ParseOrFail(NestedModel(xmldoc::kMaxParticleDepth)));
  ExpectParseFault(NestedModel(xmldoc::kMaxParticleDepth + 1), ParseError::kInvalidContentParticle);
  // Far past the limit the parser still answers instead of exhausting the stack.
  ExpectParseFault(NestedModel(200000), ParseError::kInvalidContentParticle);
}

}  // namespace
