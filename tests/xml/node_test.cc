// tests/xml/node_test.cc: lookups, null objects, editing and text of the
// tree, the references and the library's exceptions.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "tests/support/xml_helpers.h"
#include "tests/support/xml_parse_helpers.h"
#include "xml/xmldoc.h"

namespace {

using brevick::testing::AddAttribute;
using brevick::testing::AddElement;
using brevick::testing::DescribeTree;
using brevick::testing::ParseOrFail;
using brevick::testing::WriteToString;
using namespace xmldoc;

std::unique_ptr<Element> New() { return std::make_unique<Element>(nullptr, "new"); }
Node& Nth(Element& e, std::size_t i) { return *e.GetChildren()[i]; }

// The shared null objects answer every lookup and stay empty whatever is
// done to them; real nodes, however empty, are not null.
TEST(NodeTest, NullObjectsAnswerLookupsAndIgnoreEveryEdit) {
  Element root(nullptr, "dravanePackage");
  EXPECT_EQ(&NullAttribute(),
            &root.GetChildElement("package").GetChildElement("module", 3).FindAttribute("n"));
  EXPECT_TRUE(root.IsEmpty() && root.GetAttributes().empty());  // the lookups created nothing
  Element& null = NullElement();
  EXPECT_EQ(&null, &null.GetOrCreateChildElement("a", 2));
  EXPECT_EQ(&NullAttribute(), &null.GetOrCreateAttribute("x"));
  null.AddChild(std::make_unique<Element>(nullptr, "dropped"));  // destroyed, not leaked
  null.AddText("text");
  null.SetPreserveSpace(true);
  EXPECT_EQ(&NullAttribute(), &null.AddAttribute(std::make_unique<Attribute>(nullptr, "y")));
  NullAttribute().AddText("value");
  NullAttribute().SetValue("value");
  NullAttribute().SetUnquoted(true);
  NullCData().SetValue("data");
  EXPECT_FALSE(null.InsertChild(New(), null, NodeContainer::Place::kAfter));
  for (const Node* node :
       std::initializer_list<const Node*>{&null, &NullAttribute(), &NullCData()}) {
    EXPECT_EQ("", node->GetName() + node->GetText() + node->GetValue());
    EXPECT_TRUE(node->IsNull() && &null == &node->GetParent() && null.IsEmpty());
  }
  EXPECT_FALSE(null.IsPreserveSpace() || NullAttribute().IsUnquoted());
}

TEST(NodeTest, LookupsCountByExactNameAndTypeAndWalkSiblings) {
  Element root(nullptr, "root");
  AddElement(root, "a");
  root.AddText(" ");
  Element& b = AddElement(root, "b");
  Element& secondA = AddElement(root, "a");
  root.AddChild(std::make_unique<Pi>(&root, "a", ""));  // a PI named a is no element
  EXPECT_EQ(&b, &root.GetChildElement("b"));
  EXPECT_EQ(&secondA, &root.GetChildElement("a", 1));
  for (const auto& [name, index] : {std::pair{"a", 2}, {"A", 0}, {"b ", 0}})  // counted, exact
    EXPECT_EQ(&NullElement(), &root.GetChildElement(name, index)) << name;
  EXPECT_TRUE(root.FindChild("a", 0, kPiType).IsType(kPiType));
  EXPECT_EQ(&secondA, &root.GetOrCreateChildElement("a", 1));  // found, not added again
  AddAttribute(root, "v", "1");
  AddAttribute(root, "v", "2");  // duplicates stay, in order; the first is found
  EXPECT_EQ("1", root.FindAttribute("v").GetText());
  EXPECT_EQ(&root.GetOrCreateAttribute("w"), &root.GetOrCreateAttribute("w"));
  EXPECT_EQ(&root, &root.GetOrCreateAttribute("w").GetParent());
  // The sibling walk skips every other node and ends in the null element.
  Element& firstA = root.GetChildElement("a");
  const Node& text = *root.GetChildren()[1];
  EXPECT_EQ(&b, &firstA.NextSiblingElement());
  EXPECT_EQ(&b, &text.NextSiblingElement());
  EXPECT_EQ(&firstA, &text.PreviousSiblingElement());
  EXPECT_EQ(&firstA, &b.PreviousSiblingElement());
  const Element loose(&root, "loose");
  for (const Node* end : {&secondA.NextSiblingElement(), &firstA.PreviousSiblingElement(),
                          &loose.NextSiblingElement(), &loose.PreviousSiblingElement()})
    EXPECT_EQ(&NullElement(), end);
}

// Each edit starts from e = [a "t" b c] beside other = [x], says whether it
// was done, and "z" is then added as text: it joins a Text only where that
// Text is still the trailing one.
TEST(NodeTest, EditsPutNodesWhereAskedOrChangeNothing) {
  using enum NodeContainer::Place;
  using Root = Element;
  // clang-format off
  const struct { const char* what; bool (*edit)(Element& e, Root& root); bool done; const char* tree; } cases[] = {
      {"insert before", [](Element& e, Root&) { return e.InsertChild(New(), e.GetChildElement("a"), kBefore); }, true, "e[new a \"t\" b c \"z\"]"},
      {"insert after the last", [](Element& e, Root&) { return e.InsertChild(New(), e.GetChildElement("c"), kAfter); }, true, "e[a \"t\" b c new \"z\"]"},
      {"insert by another's child", [](Element& e, Root& r) { return e.InsertChild(New(), Nth(r.GetChildElement("other"), 0), kAfter); }, false, "e[a \"t\" b c \"z\"]"},
      {"move forward", [](Element& e, Root&) { return e.MoveChild(e.GetChildElement("a"), e.GetChildElement("b"), kAfter); }, true, "e[\"t\" b a c \"z\"]"},
      {"move back", [](Element& e, Root&) { return e.MoveChild(e.GetChildElement("c"), e.GetChildElement("a"), kBefore); }, true, "e[c a \"t\" b \"z\"]"},
      {"a Text moved last is extended", [](Element& e, Root&) { return e.MoveChild(Nth(e, 1), e.GetChildElement("c"), kAfter); }, true, "e[a b c \"tz\"]"},
      {"move in from another", [](Element& e, Root& r) { return e.MoveChild(Nth(r.GetChildElement("other"), 0), e.GetChildElement("b"), kBefore); }, true, "e[a \"t\" x b c \"z\"]"},
      {"next to itself", [](Element& e, Root&) { return e.MoveChild(e.GetChildElement("b"), e.GetChildElement("b"), kAfter); }, false, "e[a \"t\" b c \"z\"]"},
      {"into itself", [](Element& e, Root&) { return e.MoveChild(e, e.GetChildElement("a"), kAfter); }, false, "e[a \"t\" b c \"z\"]"},
      {"a loose node", [](Element& e, Root&) { Element loose(&e, "l"); return e.MoveChild(loose, e.GetChildElement("a"), kAfter); }, false, "e[a \"t\" b c \"z\"]"},
      {"created up to the index", [](Element& e, Root&) { e.GetOrCreateChildElement("d", 1).AddText("x"); return true; }, true, "e[a \"t\" b c d d[\"x\"] \"z\"]"},
      {"removed by index", [](Element& e, Root&) { return e.RemoveChildElement("b", 0) && !e.RemoveChildElement("b", 0) && !e.RemoveChildElement("a", 1); }, true, "e[a \"t\" c \"z\"]"},
      {"removal makes no Text trailing again", [](Element& e, Root&) { return e.RemoveChildElement("c") && e.RemoveChildElement("b"); }, true, "e[a \"t\" \"z\"]"},
      {"an added Text is trailing", [](Element& e, Root&) { e.AddChild(std::make_unique<Text>(&e, "y")); return true; }, true, "e[a \"t\" b c \"yz\"]"},
      {"all removed", [](Element& e, Root&) { e.RemoveAllChildren(); return e.IsEmpty(); }, true, "e[\"z\"]"},
      {"a value set whole", [](Element& e, Root&) { Attribute& v = e.GetOrCreateAttribute("v"); v.AddText("x"); v.AddText("y"); v.SetValue("0x1"); return v.GetChildren().size() == 1; }, true, "e(v=\"0x1\")[a \"t\" b c \"z\"]"},
      {"the first attribute removed", [](Element& e, Root&) { AddAttribute(e, "v", "1"); AddAttribute(e, "w", "2"); AddAttribute(e, "v", "3"); return e.RemoveAttribute("v") && !e.RemoveAttribute("u"); }, true, "e(w=\"2\" v=\"3\")[a \"t\" b c \"z\"]"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Element root(nullptr, "root");
    Element& e = AddElement(root, "e");
    AddElement(e, "a");
    e.AddText("t");
    AddElement(e, "b");
    AddElement(e, "c");
    AddElement(AddElement(root, "other"), "x");
    EXPECT_EQ(c.done, c.edit(e, root));
    for (const auto& child : e.GetChildren()) EXPECT_EQ(&e, &child->GetParent());
    e.AddText("z");
    EXPECT_EQ(c.tree, DescribeTree(e));
  }
}

TEST(NodeTest, GetTextNormalisesByClassAndTrimsEachNestedElement) {
  // Only the four blanks are whitespace; NUL is no end.
  const std::string raw("\v\f \0\t\r\n x \n", 11), trimmed("\v\f \0 x", 6);
  Document document;
  Element& root = document.AddRoot(std::make_unique<Element>(&document, "r"));
  root.AddText(raw);
  const Attribute& attribute = AddAttribute(root, "v", raw);
  EXPECT_EQ(trimmed, root.GetText() + root.GetValue());
  EXPECT_EQ(raw + raw, attribute.GetText() + attribute.GetValue());
  root.SetPreserveSpace(true);
  EXPECT_EQ(raw + "|" + trimmed, root.GetText() + "|" + document.GetText());  // a document trims
  root.AddText("[");
  AddElement(root, "inner").AddText(" y ");  // the flag is not inherited
  root.AddChild(std::make_unique<Comment>(&root, "c"));
  root.AddChild(std::make_unique<Pi>(&root, "t", "p"));
  root.AddText("]");
  EXPECT_EQ(raw + "[ycp]", root.GetText());
}

TEST(NodeTest, CloneCopiesInOrderAndResetsPreserveSpaceAndDeclaration) {
  const auto document = ParseOrFail(
      "<?xml version='1.1' encoding='ISO-8859-1' standalone='no'?><!--before--><e a='1' n=5 "
      "xml:space='preserve'> t  1 <c><!--note--></c><![CDATA[<raw>]]>&amp;&#x141;</e>");
  ASSERT_TRUE(document);
  Element& source = document->GetRoot();
  Element parent(nullptr, "parent");
  const std::unique_ptr<Node> copy = source.Clone(&parent);
  auto& element = static_cast<Element&>(*copy);
  EXPECT_EQ(&parent, &element.GetParent());
  EXPECT_FALSE(element.IsPreserveSpace());
  EXPECT_EQ(WriteToString(source), WriteToString(element));
  EXPECT_EQ("t 1 note<raw>&\xC5\x81", element.GetText());
  const std::unique_ptr<Node> documentCopy = document->Clone(nullptr);
  auto& copied = static_cast<Document&>(*documentCopy);
  EXPECT_EQ("1.0 UTF-8 1", copied.GetVersion() + " " + copied.GetEncoding() + " " +
                               std::to_string(copied.IsStandalone()));
  EXPECT_EQ(copied.GetChildren()[1].get(), &copied.GetRoot());
  EXPECT_EQ(&copied, &copied.GetRoot().GetParent());
  EXPECT_TRUE(document->RemoveChildElement("e"));  // no root is left behind
  EXPECT_EQ(&NullElement(), &document->GetRoot());
  document->AddRoot(std::make_unique<Element>(document.get(), "again"));
  document->RemoveAllChildren();
  EXPECT_EQ(&NullElement(), &document->GetRoot());
}

// An entity reference reads as its character and is written by name; an
// unknown name reads as a zero byte, and throws when made by name or cloned.
TEST(ReferenceTest, EntitiesResolveByExactNameAndUnknownOnesThrow) {
  // clang-format off
  const struct { const char* name; char character; } cases[] = {
      {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}, {"AMP", 0}, {"amp ", 0}, {"", 0}, {"quo", 0},
  };
  // clang-format on
  for (const auto& c : cases) {
    EntityRef reference(nullptr, c.name);
    EXPECT_EQ(c.character != 0, reference.Resolve()) << c.name;
    EXPECT_EQ(std::string(1, c.character) + "&" + c.name + ";",
              reference.GetText() + WriteToString(reference));
  }
  EXPECT_EQ(">", EntityRef("gt").Clone(nullptr)->GetText());
  Element element(nullptr, "e");
  element.AddText("x");
  element.AddChild(std::make_unique<EntityRef>(&element, "nbsp"));
  EXPECT_EQ(std::string("x\0", 2), element.GetText());
  for (const auto& make :
       {+[](Element& e) { e.Clone(nullptr); }, +[](Element&) { EntityRef("Amp"); }}) {
    try {
      make(element);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {  // the common base catches it
      const auto* invalid = dynamic_cast<const InvalidRefException*>(&e);
      ASSERT_NE(nullptr, invalid);
      EXPECT_TRUE(invalid->entityName == "nbsp" || invalid->entityName == "Amp");
    }
  }
}

TEST(ReferenceTest, CharRefKeepsTheWholeCodePoint) {
  // clang-format off
  const struct { char32_t codePoint; std::string text, written; } cases[] = {
      {U'\t', "\t", "&#x9;"},
      {U'\xE9', "\xC3\xA9", "&#xE9;"},
      {U'\x141', "\xC5\x81", "&#x141;"},  // never the low byte "A"
      {U'\U0010FFFF', "\xF4\x8F\xBF\xBF", "&#x10FFFF;"},
      {0xD800, "\xEF\xBF\xBD", "&#xD800;"},  // no scalar value: reads as U+FFFD
      {0x110000, "\xEF\xBF\xBD", "&#x110000;"},  // but is written as it stands
  };
  // clang-format on
  for (const auto& c : cases) {
    CharRef reference(nullptr, c.codePoint);
    EXPECT_EQ(c.text + c.text, reference.GetText() + reference.GetValue()) << c.written;
    EXPECT_EQ(c.written + c.written,
              WriteToString(reference) + WriteToString(*reference.Clone(nullptr)));
  }
}

// The texts are part of what the tool prints for a refused manifest.
TEST(ExceptionTest, ParsingExceptionCarriesCodePositionAndExactText) {
  // clang-format off
  const struct { ParseError code; const char* text; } cases[] = {
      {ParseError::kIllegalCharacter, "Unlegal character"},
      {ParseError::kReservedPiTarget, "Processing instruction target names may not be 'XML' in any combination of cases"},
      {ParseError::kInvalidUtf8, "Invalid UTF-8 sequence"},
      {static_cast<ParseError>(-1), "Unknown error"},  // numbers outside the codes
      {ParseError::kCount, "Unknown error"},
  };
  // clang-format on
  for (const auto& c : cases) {
    const ParsingException e(c.code, 3, 7);
    EXPECT_EQ(37, e.line * 10 + e.column);
    EXPECT_STREQ(c.text, e.GetErrorText());
  }
}

}  // namespace
