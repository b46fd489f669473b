// tests/xml/writer_test.cc: the layout of written XML, byte for byte. The
// signed output is this text, so every blank and line break is checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/xml_helpers.h"
#include "xml/parser.h"
#include "xml/xmldoc.h"

namespace {

using brevick::testing::AddAttribute;
using brevick::testing::AddElement;
using brevick::testing::WriteToString;
using namespace xmldoc;

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// A document with a root element `name`; the root is returned through `root`.
std::unique_ptr<Document> DocumentWithRoot(const char* name, Element** root) {
  auto document = std::make_unique<Document>();
  *root = &document->AddRoot(std::make_unique<Element>(document.get(), name));
  return document;
}

TEST(WriterTest, WritesTheWorkedLayoutByteForByte) {
  Element* a = nullptr;
  const auto document = DocumentWithRoot("a", &a);
  AddAttribute(*a, "x", "1");
  AddElement(*a, "b").AddText("t");
  AddElement(*a, "c");
  std::string out;
  WriteContext context(out, "    ", 0);
  document->Write(context);
  EXPECT_EQ(std::string(kDeclaration) + "<a x=\"1\">\n    <b>t</b>\n    <c/>\n</a>", out);
  EXPECT_EQ(0, context.depth);
}

TEST(WriterTest, LaysOutElementsTextAndMarkupItems) {
  const struct {
    const char* what;
    void (*build)(Element& root);
    const char* expected;  // the root element as written in a document
  } cases[] = {
      {"an empty Text child keeps start and end tag on one line", [](Element& r) { r.AddText(""); },
       "<r></r>"},
      {"whitespace between elements becomes one space before each break",
       [](Element& r) {
         r.AddText("\n    ");
         AddElement(r, "b").AddText("");
         r.AddText("\n");
       },
       "<r> \n    <b></b> \n</r>"},
      {"leading and trailing runs become one space, nothing trimmed",
       [](Element& r) { r.AddText("\t a \r\n b  "); }, "<r> a b </r>"},
      {"attribute values collapse too", [](Element& r) { AddAttribute(r, "v", "a  b\tc\nd"); },
       "<r v=\"a b c d\"/>"},
      {"preserveSpace does not stop the collapsing",
       [](Element& r) {
         r.SetPreserveSpace(true);
         r.AddText("a   b");
       },
       "<r>a b</r>"},
      {"all five special bytes are escaped in text and attributes",
       [](Element& r) {
         AddAttribute(r, "v", "<>&'\"");
         r.AddText("<>&'\"\xC3\xA9");
       },
       "<r v=\"&lt;&gt;&amp;&apos;&quot;\">&lt;&gt;&amp;&apos;&quot;\xC3\xA9</r>"},
      {"text after a comment starts at column 0",
       [](Element& r) {
         r.AddChild(std::make_unique<Comment>(&r, " c "));
         r.AddText("t");
       },
       "<r>\n    <!-- c -->\nt\n</r>"},
      {"an empty text after a comment adds no line",
       [](Element& r) {
         r.AddChild(std::make_unique<Comment>(&r, "c"));
         r.AddText("");
         AddElement(r, "b");
       },
       "<r>\n    <!--c-->\n    <b/>\n</r>"},
      {"PI with and without data, CDATA unchanged",
       [](Element& r) {
         r.AddChild(std::make_unique<Pi>(&r, "t", "d  <"));
         r.AddChild(std::make_unique<Pi>(&r, "e", ""));
         r.AddChild(std::make_unique<CData>(&r, "a  <&>"));
       },
       "<r>\n    <?t d  <?>\n    <?e?>\n    <![CDATA[a  <&>]]>\n</r>"},
      {"nested elements indent one level each",
       [](Element& r) { AddElement(AddElement(AddElement(r, "b"), "c"), "d"); },
       "<r>\n    <b>\n        <c>\n            <d/>\n        </c>\n    </b>\n</r>"},
      {"unquoted and empty attributes",
       [](Element& r) {
         AddAttribute(r, "n", "5").SetUnquoted(true);
         AddAttribute(r, "u", "").SetUnquoted(true);
         r.GetOrCreateAttribute("e");
       },
       "<r n=5 u= e=\"\"/>"},
      {"references are written as references",
       [](Element& r) {
         r.AddChild(std::make_unique<EntityRef>(&r, "lt"));
         r.AddChild(std::make_unique<CharRef>(&r, U'\t'));
         r.AddChild(std::make_unique<CharRef>(&r, U'\xE9'));
         r.AddChild(std::make_unique<CharRef>(&r, U'\x141'));
         r.AddChild(std::make_unique<CharRef>(&r, U'\U0001F600'));
         r.AddChild(std::make_unique<CharRef>(&r, U'\0'));
       },
       "<r>&lt;&#x9;&#xE9;&#x141;&#x1F600;&#x0;</r>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Element* root = nullptr;
    const auto document = DocumentWithRoot("r", &root);
    c.build(*root);
    EXPECT_EQ(std::string(kDeclaration) + c.expected, WriteToString(*document));
  }
}

TEST(WriterTest, CompactWritesTextByteForByteWithoutBreaks) {
  Element* root = nullptr;
  const auto document = DocumentWithRoot("r", &root);
  root->AddText("  a\n\tb <");
  AddAttribute(*root, "v", "x  y");
  AddElement(*root, "b");
  root->AddChild(std::make_unique<Comment>(root, "c"));
  EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><r v=\"x  y\">  a\n\tb &lt;<b/><!--c--></r>",
            ToText(*document, "    ", WriteContext::kCompact));
}

TEST(WriterTest, DocumentEndsWithBreakOnlyAfterATrailingCommentOrPi) {
  Element* root = nullptr;
  const auto document = DocumentWithRoot("r", &root);
  EXPECT_EQ(std::string(kDeclaration) + "<r/>", WriteToString(*document));
  document->AddChild(std::make_unique<Comment>(document.get(), "after"));
  document->AddChild(std::make_unique<Pi>(document.get(), "pi", "x"));
  EXPECT_EQ(std::string(kDeclaration) + "<r/>\n<!--after-->\n<?pi x?>\n", WriteToString(*document));
}

TEST(WriterTest, DeclarationIsOmittedOrWrittenAsTheFieldsStand) {
  Element* root = nullptr;
  const auto document = DocumentWithRoot("r", &root);
  document->AddChild(std::make_unique<Comment>(document.get(), "c"));
  EXPECT_EQ("<r/>\n<!--c-->\n", WriteToString(*document, "    ", WriteContext::kOmitDeclaration));

  std::string out;
  WriteContext context(out, "    ", 0);
  document->WriteContent(context);
  EXPECT_EQ("\n<r/>\n<!--c-->\n", out);

  document->SetVersion("");
  document->SetEncoding("");
  document->SetStandalone(false);  // never written
  EXPECT_EQ("<?xml version=\"\" encoding=\"\"?>\n<r/>\n<!--c-->\n", WriteToString(*document));
}

TEST(WriterTest, AppendsToTheOutputAndDefaultsToTwoBlanks) {
  Element root(nullptr, "r");
  AddElement(AddElement(root, "b"), "c");
  std::string out = "kept";
  WriteContext context(out, nullptr, 0xFFFC);  // unknown flag bits ignored
  root.Write(context);
  EXPECT_EQ("kept\n<r>\n  <b>\n    <c/>\n  </b>\n</r>", out);
}

// ToText is the one-call form: a fresh string, the same defaults as the
// context (two blanks, no flags), and any node, not only a document.
TEST(WriterTest, ToTextWritesAnyNodeIntoAFreshString) {
  Element* root = nullptr;
  const auto document = DocumentWithRoot("r", &root);
  AddAttribute(AddElement(*root, "b"), "x", "1 & 2");
  const struct {
    const char* what;
    std::string written;
    const char* expected;
  } cases[] = {
      {"document, defaults", ToText(*document),
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>\n  <b x=\"1 &amp; 2\"/>\n</r>"},
      {"document, nullptr indent and no flags spelled out", ToText(*document, nullptr, 0),
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>\n  <b x=\"1 &amp; 2\"/>\n</r>"},
      {"document, tab indent, no declaration",
       ToText(*document, "\t", WriteContext::kOmitDeclaration),
       "<r>\n\t<b x=\"1 &amp; 2\"/>\n</r>"},
      {"element", ToText(*root, ""), "\n<r>\n<b x=\"1 &amp; 2\"/>\n</r>"},
      {"attribute", ToText(*root->GetChildElement("b").GetAttributes()[0]), "x=\"1 &amp; 2\""},
      {"null element", ToText(NullElement()), "\n</>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.expected, c.written);
  }
}

TEST(WriterTest, UnresolvedEntityRefIsWrittenByName) {
  Element root(nullptr, "r");
  root.AddChild(std::make_unique<EntityRef>(&root, "nbsp"));
  EXPECT_EQ("\n<r>&nbsp;</r>", WriteToString(root));
}

TEST(WriterTest, EscapeNameMapsExactlyTheFiveSpecialBytes) {
  int mapped = 0;
  for (int byte = 0; byte < 256; ++byte) {
    if (EscapeName(static_cast<char>(byte)) != nullptr) ++mapped;
  }
  EXPECT_EQ(5, mapped);
  for (const char byte : {'<', '>', '&', '\'', '"'}) {
    SCOPED_TRACE(byte);
    const char* name = EscapeName(byte);
    ASSERT_NE(nullptr, name);
    EXPECT_EQ(byte, FindPredefinedEntity(name).value_or('\0'));
  }
}

}  // namespace

// Writing while releasing the tree must give the very bytes of writing it
// whole, in every layout, and report the output's growth as parts go.
TEST(WriterTest, WritingThatReleasesTheTreeWritesTheSameBytes) {
  const char* const inputs[] = {
      "<r/>",
      "<r a=\"1\" b='x &amp; y'><e/><e k=\"v\">t&lt;</e><!--c--><?p d?></r>",
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<m>\n <x>\n  <y z=\"&#65;\"><![CDATA[<]]></y>\n"
      " </x>\n text <w/>\n</m>\n<!--after-->",
      "<a><b><c><d><e f=\"g\"/></d></c></b><b2>mixed <i>in</i> text</b2></a>",
  };
  const std::uint32_t layouts[] = {0, WriteContext::kCompact, WriteContext::kOmitDeclaration};
  for (const char* input : inputs) {
    for (const std::uint32_t flags : layouts) {
      SCOPED_TRACE(::testing::Message() << input << " flags " << flags);
      const std::string expected =
          ToText(*Parser().Parse(input, std::char_traits<char>::length(input)), "  ", flags);
      std::string out;
      WriteContext context(out, "  ", flags);
      std::vector<std::size_t> sizes;
      WriteReleasing(Parser().Parse(input, std::char_traits<char>::length(input)), context,
                     [&sizes](std::size_t size) { sizes.push_back(size); });
      EXPECT_EQ(expected, out);
      ASSERT_FALSE(sizes.empty());
      EXPECT_TRUE(std::is_sorted(sizes.begin(), sizes.end()));
      EXPECT_LE(sizes.back(), out.size());
    }
  }
  std::string out;
  WriteContext context(out);
  WriteReleasing(nullptr, context);
  EXPECT_EQ("", out);
}
