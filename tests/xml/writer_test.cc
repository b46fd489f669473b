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

std::unique_ptr<Document> Parsed(std::string_view xml) {
  return Parser().Parse(xml.data(), xml.size());
}

template <typename T, typename... Args>
void Add(Element& parent, Args&&... args) {
  parent.AddChild(std::make_unique<T>(&parent, std::forward<Args>(args)...));
}

TEST(WriterTest, LaysOutElementsTextAndMarkupItems) {
  // clang-format off
  // `expected`: the root element as written in a document.
  const struct { const char* what; void (*build)(Element& root); const char* expected; } cases[] = {
      {"the worked layout", [](Element& r) { AddAttribute(r, "x", "1"); AddElement(r, "b").AddText("t"); AddElement(r, "c"); }, "<r x=\"1\">\n    <b>t</b>\n    <c/>\n</r>"},
      {"an empty Text keeps both tags on one line", [](Element& r) { r.AddText(""); }, "<r></r>"},
      {"blanks between elements become one before each break", [](Element& r) { r.AddText("\n    "); AddElement(r, "b").AddText(""); r.AddText("\n"); }, "<r> \n    <b></b> \n</r>"},
      {"runs at either end become one blank", [](Element& r) { r.AddText("\t a \r\n b  "); }, "<r> a b </r>"},
      {"attribute values collapse too", [](Element& r) { AddAttribute(r, "v", "a  b\tc\nd"); }, "<r v=\"a b c d\"/>"},
      {"only the four blanks collapse", [](Element& r) { r.AddText("a\v\f \t\r\nb"); }, "<r>a\v\f b</r>"},
      {"preserveSpace does not stop the collapsing", [](Element& r) { r.SetPreserveSpace(true); r.AddText("a   b"); }, "<r>a b</r>"},
      {"the five special bytes are escaped", [](Element& r) { AddAttribute(r, "v", "<>&'\""); r.AddText("<>&'\"\xC3\xA9"); }, "<r v=\"&lt;&gt;&amp;&apos;&quot;\">&lt;&gt;&amp;&apos;&quot;\xC3\xA9</r>"},
      {"text after a comment starts at column 0", [](Element& r) { Add<Comment>(r, " c "); r.AddText("t"); }, "<r>\n    <!-- c -->\nt\n</r>"},
      {"an empty text after a comment adds no line", [](Element& r) { Add<Comment>(r, "c"); r.AddText(""); AddElement(r, "b"); }, "<r>\n    <!--c-->\n    <b/>\n</r>"},
      {"PI with and without data, CDATA unchanged", [](Element& r) { Add<Pi>(r, "t", "d  <"); Add<Pi>(r, "e", ""); Add<CData>(r, "a  <&>"); }, "<r>\n    <?t d  <?>\n    <?e?>\n    <![CDATA[a  <&>]]>\n</r>"},
      {"nested elements indent one level each", [](Element& r) { AddElement(AddElement(AddElement(r, "b"), "c"), "d"); }, "<r>\n    <b>\n        <c>\n            <d/>\n        </c>\n    </b>\n</r>"},
      {"unquoted and empty attributes", [](Element& r) { AddAttribute(r, "n", "5").SetUnquoted(true); AddAttribute(r, "u", "").SetUnquoted(true); r.GetOrCreateAttribute("e"); }, "<r n=5 u= e=\"\"/>"},
      {"references", [](Element& r) { Add<EntityRef>(r, "lt"); for (const char32_t c : {U'\t', U'\xE9', U'\x141', U'\U0001F600', U'\0'}) Add<CharRef>(r, c); }, "<r>&lt;&#x9;&#xE9;&#x141;&#x1F600;&#x0;</r>"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Document document;
    c.build(document.AddRoot(std::make_unique<Element>(&document, "r")));
    EXPECT_EQ(std::string(kDeclaration) + c.expected, WriteToString(document));
  }
}

TEST(WriterTest, FlagsIndentAndNodesChooseWhatIsWritten) {
  Document document;
  Element& root = document.AddRoot(std::make_unique<Element>(&document, "r"));
  AddAttribute(AddElement(root, "b"), "x", "1 & 2");
  const std::string tail = "<r>\n  <b x=\"1 &amp; 2\"/>\n</r>";
  std::string appended = "kept";
  WriteContext context(appended, nullptr, 0xFFFC);  // unknown flag bits ignored
  document.Write(context);
  EXPECT_EQ(0, context.depth);
  const auto compact = Parsed("<r v='x  y'>  a\n\tb &lt;<b/><!--c--></r>");
  const auto trailing = Parsed("<r/><!--after--><?pi x?>");
  std::string content;
  WriteContext contentContext(content, "    ", 0);
  trailing->WriteContent(contentContext);
  const std::string items = "<r/>\n<!--after-->\n<?pi x?>\n";
  Document bare;
  bare.AddRoot(std::make_unique<Element>(&bare, "r"));
  bare.SetVersion("");
  bare.SetEncoding("");
  bare.SetStandalone(false);  // never written
  // clang-format off
  const struct { const char* what; std::string written, expected; } cases[] = {
      {"defaults: two blanks, no flags", ToText(document), kDeclaration + tail},
      {"appended to what the output held", appended, "kept" + std::string(kDeclaration) + tail},
      {"tab indent, no declaration", ToText(document, "\t", WriteContext::kOmitDeclaration), "<r>\n\t<b x=\"1 &amp; 2\"/>\n</r>"},
      {"compact: text byte for byte, no breaks", ToText(compact->GetRoot(), "    ", WriteContext::kCompact), "<r v=\"x  y\">  a\n\tb &lt;<b/><!--c--></r>"},
      {"compact document", ToText(document, "    ", WriteContext::kCompact), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><b x=\"1 &amp; 2\"/></r>"},
      {"an element", ToText(root, ""), "\n<r>\n<b x=\"1 &amp; 2\"/>\n</r>"},
      {"the null element", ToText(NullElement()), "\n</>"},
      {"no break after a lone root", ToText(*Parsed("<r/>")), kDeclaration + std::string("<r/>")},
      {"items after the root", ToText(*trailing, "    ", WriteContext::kOmitDeclaration), items},
      {"the content alone", content, "\n" + items},
      {"empty declaration fields", ToText(bare), "<?xml version=\"\" encoding=\"\"?>\n<r/>"},
  };
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(c.expected, c.written) << c.what;
}

// The tree's nodes count their own destruction, so a test sees when the
// releasing writer lets them go.
int destroyedNodes = 0;
struct TrackedElement : Element {
  using Element::Element;
  ~TrackedElement() override { ++destroyedNodes; }
};
struct TrackedAttribute : Attribute {
  using Attribute::Attribute;
  ~TrackedAttribute() override { ++destroyedNodes; }
};

// Writing while releasing the tree gives the very bytes of writing it whole,
// in every layout, and lets each element's children and attributes go as soon
// as its end tag is written, not when the whole document is.
TEST(WriterTest, WritingThatReleasesTheTreeWritesTheSameBytesAndFreesAsItGoes) {
  // clang-format off
  const char* const inputs[] = {
      "<r/>",
      "<r a=\"1\" b='x &amp; y'><e/><e k=\"v\">t&lt;</e><!--c--><?p d?></r>",
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<m>\n <x>\n  <y z=\"&#65;\"><![CDATA[<]]></y>\n </x>\n text <w/>\n</m>\n<!--after-->",
      "<a><b><c><d><e f=\"g\"/></d></c></b><b2>mixed <i>in</i> text</b2></a>",
  };
  // clang-format on
  for (const char* input : inputs) {
    for (const std::uint32_t flags : {0u, WriteContext::kCompact, WriteContext::kOmitDeclaration}) {
      SCOPED_TRACE(::testing::Message() << input << " flags " << flags);
      const std::string expected = ToText(*Parsed(input), "  ", flags);
      std::string out;
      WriteContext context(out, "  ", flags);
      std::vector<std::size_t> sizes;
      WriteReleasing(Parsed(input), context, [&](std::size_t size) { sizes.push_back(size); });
      EXPECT_EQ(expected, out);
      EXPECT_TRUE(!sizes.empty() && std::is_sorted(sizes.begin(), sizes.end()) &&
                  sizes.back() <= out.size());
    }
  }
  auto document = std::make_unique<Document>();
  Element& root = document->AddRoot(std::make_unique<Element>(document.get(), "r"));
  Element& first = AddElement(root, "first");
  first.AddAttribute(std::make_unique<TrackedAttribute>(&first, "a"));
  first.AddChild(std::make_unique<TrackedElement>(&first, "t"));
  AddElement(root, "second");
  destroyedNodes = 0;
  int destroyedBeforeSecond = -1;
  std::string out;
  WriteContext context(out);
  WriteReleasing(std::move(document), context, [&](std::size_t) {
    if (out.find("<second") == std::string::npos) destroyedBeforeSecond = destroyedNodes;
  });
  EXPECT_EQ(2, destroyedBeforeSecond);
  EXPECT_EQ(2, destroyedNodes);
  WriteReleasing(nullptr, context);  // nothing, and no crash
  EXPECT_EQ(std::string::npos, out.find("<?xml", 1));
}

}  // namespace
