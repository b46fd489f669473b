// tests/xml/node_test.cc: lookups, null objects, editing and text of the tree.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "tests/support/xml_helpers.h"
#include "xml/xmldoc.h"

namespace {

using brevick::testing::AddAttribute;
using brevick::testing::AddElement;
using brevick::testing::WriteToString;
using namespace xmldoc;

std::string Compact(const Node& node) { return WriteToString(node, "", WriteContext::kCompact); }

// The shared null objects stay empty whatever was done to them; real nodes,
// however empty, are not null.
void ExpectNullObjectsUntouched() {
  for (const Node* node :
       {static_cast<const Node*>(&NullElement()), static_cast<const Node*>(&NullAttribute()),
        static_cast<const Node*>(&NullComment()), static_cast<const Node*>(&NullPi()),
        static_cast<const Node*>(&NullCData())}) {
    EXPECT_TRUE(node->IsNull());
    EXPECT_EQ("", node->GetName() + node->GetText());
    EXPECT_EQ(&NullElement(), &node->GetParent());
  }
  EXPECT_TRUE(NullElement().IsEmpty() && NullElement().GetAttributes().empty());
  EXPECT_FALSE(NullElement().IsPreserveSpace() || NullAttribute().IsUnquoted());
  EXPECT_TRUE(NullAttribute().IsEmpty());
}

TEST(NodeTest, NullObjectsAnswerLookupsAndIgnoreEveryEdit) {
  Document document;
  Element& root = document.AddRoot(std::make_unique<Element>(&document, "dravanePackage"));
  EXPECT_EQ(&NullAttribute(),
            &root.GetChildElement("package").GetChildElement("module", 3).FindAttribute("n"));
  EXPECT_EQ(&NullElement(), &Document().GetRoot());
  EXPECT_TRUE(root.IsEmpty() && root.GetAttributes().empty());  // the lookups created nothing

  Element& null = NullElement();
  EXPECT_EQ(&NullElement(), &null.GetOrCreateChildElement("a", 2));
  EXPECT_EQ(&NullAttribute(), &null.GetOrCreateAttribute("x"));
  null.AddChild(std::make_unique<Element>(nullptr, "dropped"));  // destroyed, not leaked
  null.AddText("text");
  EXPECT_EQ(&NullAttribute(), &null.AddAttribute(std::make_unique<Attribute>(nullptr, "y")));
  EXPECT_FALSE(null.RemoveChildElement("a") || null.RemoveAttribute("x"));
  null.RemoveAllChildren();
  null.SetPreserveSpace(true);
  NullAttribute().AddText("value");
  NullAttribute().SetUnquoted(true);
  NullAttribute().SetValue("value");
  EXPECT_FALSE(null.InsertChild(std::make_unique<Element>(nullptr, "x"), null,
                                NodeContainer::Place::kAfter));
  NullCData().SetValue("data");
  EXPECT_EQ("", NullCData().GetValue());
  ExpectNullObjectsUntouched();
  EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", WriteToString(Document()));

  EXPECT_FALSE(document.IsNull() || Element(nullptr, "").IsNull() ||
               Attribute(nullptr, "").IsNull() || Comment("").IsNull() || Pi("", "").IsNull() ||
               CData("").IsNull());
  EXPECT_EQ(&NullElement(), &Comment("").GetParent());
}

TEST(NodeTest, ChildrenAreFoundCreatedAndRemovedByNameAndIndex) {
  Element root(nullptr, "root");
  AddElement(root, "a").AddText("0");
  root.AddText(" ");
  Element& b = AddElement(root, "b");
  Element& secondA = AddElement(root, "a");
  root.AddChild(std::make_unique<Pi>(&root, "a", ""));  // a PI named a is no element
  EXPECT_EQ(&b, &root.GetChildElement("b"));
  EXPECT_EQ(&secondA, &root.GetChildElement("a", 1));
  for (const auto& [name, index] :
       {std::pair{"a", 2}, {"A", 0}, {"b ", 0}})  // counted, exact, untrimmed
    EXPECT_EQ(&NullElement(), &root.GetChildElement(name, index)) << name;
  EXPECT_TRUE(root.FindChild("#text", 0, kTextType).IsType(kTextType));
  EXPECT_EQ(&NullElement(), &root.FindChild("#text", 0, kElementType));
  EXPECT_TRUE(root.FindChild("a", 0, kPiType).IsType(kPiType));

  EXPECT_EQ(&secondA, &root.GetOrCreateChildElement("a", 1));  // found, not added again
  Element& third = root.GetOrCreateChildElement("a", 2);
  EXPECT_EQ(&root, &third.GetParent());
  EXPECT_EQ(&third, root.GetChildren().back().get());
  EXPECT_FALSE(root.RemoveChildElement("a", 3));
  EXPECT_FALSE(root.RemoveChildElement("b", 1));
  EXPECT_TRUE(root.RemoveChildElement("a", 1));
  EXPECT_EQ("<root><a>0</a> <b/><?a?><a/></root>", Compact(root));

  Element fresh(nullptr, "fresh");  // up to the index, every missing one is appended
  fresh.GetOrCreateChildElement("d", 2).AddText("x");
  EXPECT_EQ("\n<fresh>\n    <d/>\n    <d/>\n    <d>x</d>\n</fresh>", WriteToString(fresh));
}

TEST(NodeTest, AttributesAreFoundCreatedAndRemovedByFirstName) {
  Element element(nullptr, "e");
  AddAttribute(element, "a", "1");
  AddAttribute(element, "b", "2");
  AddAttribute(element, "a", "3");  // duplicates stay, in order
  EXPECT_EQ("1", element.FindAttribute("a").GetText());
  EXPECT_EQ(&NullAttribute(), &element.FindAttribute("c"));
  EXPECT_FALSE(element.RemoveAttribute("c"));
  Attribute& created = element.GetOrCreateAttribute("c");
  EXPECT_EQ(&created, &element.GetOrCreateAttribute("c"));
  EXPECT_EQ(&element, &created.GetParent());
  EXPECT_TRUE(element.RemoveAttribute("a"));
  created.AddText("x");
  created.AddChild(std::make_unique<Text>(&created, "y"));
  created.SetValue("0x1");  // the whole value, whatever it was made of
  EXPECT_EQ(1u, created.GetChildren().size());
  EXPECT_EQ("\n<e b=\"2\" a=\"3\" c=\"0x1\"/>", WriteToString(element));
  Element other(nullptr, "other");  // an added node takes its new container as parent
  EXPECT_EQ(&other, &other.AddAttribute(std::make_unique<Attribute>(&element, "x")).GetParent());
  auto child = std::make_unique<Element>(&element, "child");
  Element& added = *child;
  other.AddChild(std::move(child));
  EXPECT_EQ(&other, &added.GetParent());
}

// The children of `container`: element names, and each Text's text in quotes.
std::string Layout(const NodeContainer& container) {
  std::string layout;
  for (const auto& child : container.GetChildren()) {
    if (!layout.empty()) layout += ' ';
    layout += child->IsType(kTextType) ? "'" + child->GetText() + "'" : child->GetName();
  }
  return layout;
}

TEST(NodeTest, InsertAndMovePutTheNodeNextToItsAnchorOrChangeNothing) {
  using enum NodeContainer::Place;
  // "new" is inserted; any other node is moved. After each edit "z" is added
  // as text: it joins a Text only where that Text ended up last.
  // clang-format off
  const struct { const char* node; const char* anchor; NodeContainer::Place place; bool done; const char* layout; } cases[] = {
      {"new", "a", kBefore, true, "new a 't' b c 'z'"},
      {"new", "c", kAfter, true, "a 't' b c new 'z'"},
      {"new", "x", kAfter, false, "a 't' b c 'z'"},    // the anchor is another container's
      {"a", "b", kAfter, true, "'t' b a c 'z'"},
      {"c", "a", kBefore, true, "c a 't' b 'z'"},
      {"t", "c", kAfter, true, "a b c 'tz'"},          // a Text moved last is extended
      {"x", "b", kBefore, true, "a 't' x b c 'z'"},    // from another container
      {"b", "b", kAfter, false, "a 't' b c 'z'"},
      {"e", "a", kAfter, false, "a 't' b c 'z'"},      // the container into itself
      {"loose", "a", kAfter, false, "a 't' b c 'z'"},  // not attached anywhere
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.node) + " " + c.anchor);
    Element root(nullptr, "root");
    Element& e = AddElement(root, "e");
    AddElement(e, "a");
    e.AddText("t");
    Node& t = *e.GetChildren().back();
    AddElement(e, "b");
    AddElement(e, "c");
    Element& other = AddElement(root, "other");
    AddElement(other, "x");
    Element loose(&e, "loose");
    const std::map<std::string, Node*> nodes = {{"a", &e.GetChildElement("a")},
                                                {"b", &e.GetChildElement("b")},
                                                {"c", &e.GetChildElement("c")},
                                                {"t", &t},
                                                {"x", &other.GetChildElement("x")},
                                                {"e", &e},
                                                {"loose", &loose}};
    const Node& anchor = *nodes.at(c.anchor);
    bool done = false;
    if (std::string(c.node) == "new") {
      done = e.InsertChild(std::make_unique<Element>(nullptr, "new"), anchor, c.place);
    } else {
      done = e.MoveChild(*nodes.at(c.node), anchor, c.place);
      EXPECT_TRUE(!done || &e == &nodes.at(c.node)->GetParent());
    }
    EXPECT_EQ(c.done, done);
    e.AddText("z");
    EXPECT_EQ(c.layout, Layout(e));
  }
}

TEST(NodeTest, SiblingWalkSkipsOtherNodesAndEndsInTheNullElement) {
  Element e(nullptr, "e");
  Element& a = AddElement(e, "a");
  e.AddText("t");
  const Node& t = *e.GetChildren().back();
  Element& b = AddElement(e, "b");
  const Element loose(&e, "loose");
  EXPECT_EQ(&b, &a.NextSiblingElement());
  EXPECT_EQ(&b, &t.NextSiblingElement());
  EXPECT_EQ(&a, &t.PreviousSiblingElement());
  EXPECT_EQ(&a, &b.PreviousSiblingElement());
  EXPECT_EQ(&NullElement(), &b.NextSiblingElement());
  EXPECT_EQ(&NullElement(), &a.PreviousSiblingElement());
  EXPECT_EQ(&NullElement(), &loose.NextSiblingElement());
  EXPECT_EQ(&NullElement(), &loose.PreviousSiblingElement());
}

TEST(NodeTest, AddTextMergesIntoTheTrailingTextOnly) {
  Element element(nullptr, "e");
  element.AddText("a");
  AddElement(element, "x");
  EXPECT_TRUE(element.RemoveChildElement("x"));
  element.AddText("b");  // what stood before the removed element is not trailing again
  element.AddText("c");
  AddElement(element, "y");
  element.AddText("d");
  element.AddChild(std::make_unique<Text>(&element, "e"));  // an added Text is trailing too
  element.AddText("f");
  EXPECT_EQ("<e>abc<y/>def</e>", Compact(element));
  EXPECT_EQ(5u, element.GetChildren().size());
  element.RemoveAllChildren();
  EXPECT_TRUE(element.IsEmpty());
  element.AddText("");
  EXPECT_FALSE(element.IsEmpty());  // even empty text makes a node
}

TEST(NodeTest, GetTextNormalisesByClassAndTrimsEachNestedElement) {
  const std::string raw = "  a \n\t b  ";
  Element element(nullptr, "e");
  element.AddText(raw);
  EXPECT_EQ("a b", element.GetText());
  EXPECT_EQ("", element.GetValue());
  element.SetPreserveSpace(true);
  EXPECT_EQ(raw, element.GetText());
  Attribute attribute(nullptr, "v");
  attribute.AddText(raw);
  EXPECT_EQ(raw + "|" + raw, attribute.GetText() + "|" + attribute.GetValue());
  Document document;
  Element& root = document.AddRoot(std::make_unique<Element>(&document, "r"));
  root.SetPreserveSpace(true);
  root.AddText(raw);
  EXPECT_EQ(raw, root.GetText());
  EXPECT_EQ("a b", document.GetText());  // the document always normalises

  Element mixed(nullptr, "e");
  mixed.SetPreserveSpace(true);
  mixed.AddText("[");
  AddElement(mixed, "inner").AddText(" y ");  // the flag is not inherited
  mixed.AddChild(std::make_unique<Comment>(&mixed, "c"));
  mixed.AddChild(std::make_unique<Pi>(&mixed, "t", "p"));
  mixed.AddText("]");
  EXPECT_EQ("[ycp]", mixed.GetText());
}

TEST(NodeTest, CloneCopiesInOrderAndResetsPreserveSpaceAndDeclaration) {
  Element source(nullptr, "e");
  source.SetPreserveSpace(true);
  AddAttribute(source, "a", "1");
  AddAttribute(source, "n", "5").SetUnquoted(true);
  source.AddText(" t  1 ");
  AddElement(source, "c").AddChild(std::make_unique<Comment>(nullptr, "note"));
  source.AddChild(std::make_unique<CData>(&source, "<raw>"));
  source.AddChild(std::make_unique<EntityRef>(&source, "amp"));
  source.AddChild(std::make_unique<CharRef>(&source, U'\x141'));
  Element parent(nullptr, "parent");
  std::unique_ptr<Node> copy = source.Clone(&parent);
  auto& element = static_cast<Element&>(*copy);
  EXPECT_EQ(&parent, &element.GetParent());
  EXPECT_FALSE(element.IsPreserveSpace());
  EXPECT_TRUE(element.FindAttribute("n").IsUnquoted());
  EXPECT_EQ(WriteToString(source), WriteToString(element));
  EXPECT_EQ("t 1 note<raw>&\xC5\x81", element.GetText());
  element.AddText("x");  // the clone's own trailing Text is not the source's
  EXPECT_EQ(source.GetChildren().size() + 1, element.GetChildren().size());

  Document document;
  document.SetVersion("1.1");
  document.SetEncoding("ISO-8859-1");
  document.SetStandalone(false);
  document.AddChild(std::make_unique<Comment>(&document, "before"));
  document.AddRoot(std::make_unique<Element>(&document, "root"));
  const std::unique_ptr<Node> documentCopy = document.Clone(nullptr);
  auto& copied = static_cast<Document&>(*documentCopy);
  EXPECT_EQ("1.0 UTF-8", copied.GetVersion() + " " + copied.GetEncoding());
  EXPECT_TRUE(copied.IsStandalone());
  EXPECT_EQ(copied.GetChildren()[1].get(), &copied.GetRoot());
  EXPECT_EQ(&copied, &copied.GetRoot().GetParent());

  EXPECT_TRUE(document.RemoveChildElement("root"));  // no root is left behind
  EXPECT_EQ(&NullElement(), &document.GetRoot());
  document.AddRoot(std::make_unique<Element>(&document, "again"));
  document.RemoveAllChildren();
  EXPECT_EQ(&NullElement(), &document.GetRoot());
}

TEST(NodeTest, CollapseAndTrimTreatOnlyTheFourBlanksAsWhitespace) {
  const struct {
    std::string in, collapsed, trimmed;
  } cases[] = {
      // clang-format off
      {"", "", ""},
      {" \t\r\n", " ", ""},
      {"a  b", "a b", "a  b"},
      {"\n a\tb\r ", " a b ", "a\tb"},
      {"a\vb\fc", "a\vb\fc", "a\vb\fc"},  // vertical tab, form feed kept
      {std::string("a\0 b", 4), std::string("a\0 b", 4), std::string("a\0 b", 4)},
      // clang-format on
  };
  for (const auto& c : cases) {
    std::string collapsed = c.in, trimmed = c.in;
    CollapseSpaces(collapsed);
    TrimSpaces(trimmed);
    EXPECT_EQ(c.collapsed + "|" + c.trimmed, collapsed + "|" + trimmed) << c.in;
  }
}

}  // namespace
