// tests/xml/node_test.cc: lookups, null objects, editing and text of the tree.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/xml_helpers.h"
#include "xml/xmldoc.h"

namespace {

using brevick::testing::AddAttribute;
using brevick::testing::AddElement;
using brevick::testing::WriteToString;
using namespace xmldoc;

// Every shared null object is empty, parented by NullElement, and counted by
// IsNull; nothing else is.
void ExpectNullObjectsUntouched() {
  const Node* nulls[] = {&NullElement(), &NullAttribute(), &NullComment(), &NullPi(), &NullCData()};
  for (const Node* node : nulls) {
    SCOPED_TRACE(node->GetName());
    EXPECT_TRUE(node->IsNull());
    EXPECT_EQ("", node->GetName());
    EXPECT_EQ("", node->GetText());
    EXPECT_EQ(&NullElement(), &node->GetParent());
  }
  EXPECT_TRUE(NullElement().IsEmpty());
  EXPECT_TRUE(NullElement().GetAttributes().empty());
  EXPECT_FALSE(NullElement().IsPreserveSpace());
  EXPECT_TRUE(NullAttribute().IsEmpty());
  EXPECT_FALSE(NullAttribute().IsUnquoted());
}

TEST(NodeTest, LookupChainOverMissingNodesYieldsNullObjectsAndCreatesNothing) {
  Document document;
  Element& root = document.AddRoot(std::make_unique<Element>(&document, "dravanePackage"));
  Element& missing = root.GetChildElement("package");
  EXPECT_EQ(&NullElement(), &missing);
  Attribute& attribute = missing.GetChildElement("module", 3).FindAttribute("name");
  EXPECT_EQ(&NullAttribute(), &attribute);
  EXPECT_EQ("", attribute.GetText());
  EXPECT_EQ(&NullElement(), &Document().GetRoot());
  EXPECT_TRUE(root.IsEmpty());
  EXPECT_TRUE(root.GetAttributes().empty());
  ExpectNullObjectsUntouched();
}

TEST(NodeTest, NullObjectsIgnoreEveryEdit) {
  Element& nullElement = NullElement();
  EXPECT_EQ(&NullElement(), &nullElement.GetOrCreateChildElement("a", 2));
  EXPECT_EQ(&NullAttribute(), &nullElement.GetOrCreateAttribute("x"));
  nullElement.AddChild(std::make_unique<Element>(nullptr, "dropped"));  // destroyed, not leaked
  nullElement.AddText("text");
  EXPECT_EQ(&NullAttribute(), &nullElement.AddAttribute(std::make_unique<Attribute>(nullptr, "y")));
  EXPECT_FALSE(nullElement.RemoveChildElement("a"));
  EXPECT_FALSE(nullElement.RemoveAttribute("x"));
  nullElement.RemoveAllChildren();
  nullElement.SetPreserveSpace(true);
  NullAttribute().AddText("value");
  NullAttribute().SetUnquoted(true);
  NullCData().SetValue("data");
  EXPECT_EQ("", NullCData().GetValue());
  ExpectNullObjectsUntouched();
  EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", WriteToString(Document()));
}

TEST(NodeTest, IsNullIsFalseForRealNodesEvenWhenEmpty) {
  Document document;
  EXPECT_FALSE(document.IsNull());
  EXPECT_FALSE(Element(nullptr, "").IsNull());
  EXPECT_FALSE(Attribute(nullptr, "").IsNull());
  EXPECT_FALSE(Comment("").IsNull());
  EXPECT_FALSE(Pi("", "").IsNull());
  EXPECT_FALSE(CData("").IsNull());
  EXPECT_EQ(&NullElement(), &Comment("").GetParent());  // parentless forms
}

TEST(NodeTest, TypeIdsAnswerOnlyTheirOwnKind) {
  Document document;
  Element element(&document, "e");
  Attribute attribute(&element, "a");
  Text text(&element, "t");
  CData cdata(&element, "c");
  CharRef charRef(&element, U'A');
  EntityRef entityRef(&element, "amp");
  Pi pi(&element, "target", "data");
  Comment comment(&element, "c");
  const struct {
    const Node* node;
    int typeId;
  } cases[] = {{&element, 1},   {&attribute, 2}, {&text, 3},    {&cdata, 4},   {&charRef, 5},
               {&entityRef, 5}, {&pi, 7},        {&comment, 8}, {&document, 9}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typeId);
    for (int typeId = 0; typeId <= 10; ++typeId) {
      EXPECT_EQ(typeId == c.typeId, c.node->IsType(typeId)) << "asked " << typeId;
    }
  }
}

TEST(NodeTest, GetChildElementCountsOnlyElementsOfThatName) {
  Element root(nullptr, "root");
  AddElement(root, "a");
  root.AddText(" ");
  Element& b = AddElement(root, "b");
  Element& secondA = AddElement(root, "a");
  root.AddChild(std::make_unique<Pi>(&root, "a", ""));  // a PI named a is no element
  EXPECT_EQ(&b, &root.GetChildElement("b"));
  EXPECT_EQ(&secondA, &root.GetChildElement("a", 1));
  EXPECT_EQ(&NullElement(), &root.GetChildElement("a", 2));
  EXPECT_EQ(&NullElement(), &root.GetChildElement("A"));   // case matters
  EXPECT_EQ(&NullElement(), &root.GetChildElement("b "));  // no trimming
  EXPECT_TRUE(root.FindChild("#text", 0, kTextType).IsType(kTextType));
  EXPECT_EQ(&NullElement(), &root.FindChild("#text", 0, kElementType));
  EXPECT_TRUE(root.FindChild("a", 0, kPiType).IsType(kPiType));
}

TEST(NodeTest, GetOrCreateChildElementAppendsUpToTheIndex) {
  Element root(nullptr, "root");
  Element& only = AddElement(root, "m");
  EXPECT_EQ(&only, &root.GetOrCreateChildElement("m", 0));
  EXPECT_EQ(&NullElement(), &root.GetChildElement("m", 1));
  Element& second = root.GetOrCreateChildElement("m", 1);
  EXPECT_EQ(&second, &root.GetChildElement("m", 1));
  EXPECT_EQ(&second, &root.GetOrCreateChildElement("m", 1));  // found, not added again
  EXPECT_EQ(2u, root.GetChildren().size());

  Element fresh(nullptr, "fresh");
  Element& third = fresh.GetOrCreateChildElement("d", 2);
  ASSERT_EQ(3u, fresh.GetChildren().size());
  EXPECT_EQ(&third, fresh.GetChildren()[2].get());
  EXPECT_EQ(&fresh, &third.GetParent());
  EXPECT_EQ("\n<fresh>\n    <d/>\n    <d/>\n    <d/>\n</fresh>", WriteToString(fresh));
}

TEST(NodeTest, RemoveChildElementRemovesTheIndexedMatchAndKeepsOrder) {
  Element root(nullptr, "root");
  const struct {
    const char* name;
    const char* text;
  } children[] = {{"x", "0"}, {"y", "1"}, {"x", "2"}, {"x", "3"}};
  for (const auto& child : children) AddElement(root, child.name).AddText(child.text);
  EXPECT_FALSE(root.RemoveChildElement("x", 3));
  EXPECT_FALSE(root.RemoveChildElement("y", 1));
  EXPECT_TRUE(root.RemoveChildElement("x", 1));
  EXPECT_EQ("<root><x>0</x><y>1</y><x>3</x></root>",
            WriteToString(root, "", WriteContext::kCompact));
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
  EXPECT_EQ(&created, element.GetAttributes().back().get());
  EXPECT_EQ(&element, &created.GetParent());
  EXPECT_TRUE(element.RemoveAttribute("a"));
  EXPECT_EQ("3", element.FindAttribute("a").GetText());
  EXPECT_EQ("\n<e b=\"2\" a=\"3\" c=\"\"/>", WriteToString(element));
}

TEST(NodeTest, AddTextMergesIntoTheTrailingTextOnly) {
  Element element(nullptr, "e");
  element.AddText("a");
  element.AddText("b");
  ASSERT_EQ(1u, element.GetChildren().size());
  EXPECT_EQ("ab", element.GetChildren()[0]->GetText());

  AddElement(element, "child");
  element.AddText("c");
  EXPECT_EQ(3u, element.GetChildren().size());

  element.AddChild(std::make_unique<Text>(&element, "d"));  // an added Text is trailing too
  element.AddText("e");
  EXPECT_EQ(4u, element.GetChildren().size());
  EXPECT_EQ("de", element.GetChildren()[3]->GetText());

  element.RemoveAllChildren();
  EXPECT_TRUE(element.IsEmpty());
  element.AddText("");
  ASSERT_EQ(1u, element.GetChildren().size());  // even empty text makes a node
  EXPECT_FALSE(element.IsEmpty());
}

TEST(NodeTest, RemovingTheElementAfterATextDoesNotRevivePreviousText) {
  Element element(nullptr, "e");
  element.AddText("a");
  AddElement(element, "x");
  EXPECT_TRUE(element.RemoveChildElement("x"));
  element.AddText("b");
  EXPECT_EQ(2u, element.GetChildren().size());
  EXPECT_EQ("ab", element.GetText());
}

TEST(NodeTest, GetTextNormalisesByClass) {
  const std::string raw = "  a \n\t b  ";
  Element element(nullptr, "e");
  element.AddText(raw);
  EXPECT_EQ("a b", element.GetText());
  EXPECT_EQ("", element.GetValue());
  element.SetPreserveSpace(true);
  EXPECT_EQ(raw, element.GetText());

  Attribute attribute(nullptr, "v");
  attribute.AddText(raw);
  EXPECT_EQ(raw, attribute.GetText());
  EXPECT_EQ(raw, attribute.GetValue());

  Document document;
  Element& root = document.AddRoot(std::make_unique<Element>(&document, "r"));
  root.SetPreserveSpace(true);
  root.AddText(raw);
  EXPECT_EQ(raw, root.GetText());
  EXPECT_EQ("a b", document.GetText());  // the document always normalises
}

TEST(NodeTest, GetTextTrimsEachNestedElementBeforeJoining) {
  Element element(nullptr, "e");
  element.AddText("x");
  AddElement(element, "inner").AddText(" y ");
  element.AddText("z");
  EXPECT_EQ("xyz", element.GetText());

  Element withComment(nullptr, "e");
  withComment.AddText("x");
  withComment.AddChild(std::make_unique<Comment>(&withComment, "c"));
  withComment.AddChild(std::make_unique<Pi>(&withComment, "t", "p"));
  withComment.AddText("y");
  EXPECT_EQ("xcpy", withComment.GetText());

  Element preserving(nullptr, "e");
  preserving.SetPreserveSpace(true);
  preserving.AddText("[");
  AddElement(preserving, "inner").AddText(" y ");
  preserving.AddText("]");
  EXPECT_EQ("[y]", preserving.GetText());  // the flag is not inherited
}

TEST(NodeTest, CloneCopiesInOrderAndResetsPreserveSpace) {
  Element source(nullptr, "e");
  source.SetPreserveSpace(true);
  AddAttribute(source, "a", "1");
  Attribute& unquoted = AddAttribute(source, "n", "5");
  unquoted.SetUnquoted(true);
  source.AddText(" t  1 ");
  AddElement(source, "c").AddChild(std::make_unique<Comment>(nullptr, "note"));
  source.AddChild(std::make_unique<CData>(&source, "<raw>"));
  source.AddChild(std::make_unique<EntityRef>(&source, "amp"));
  source.AddChild(std::make_unique<CharRef>(&source, U'\x141'));

  Element parent(nullptr, "parent");
  std::unique_ptr<Node> copy = source.Clone(&parent);
  EXPECT_EQ(&parent, &copy->GetParent());
  auto& element = static_cast<Element&>(*copy);
  EXPECT_FALSE(element.IsPreserveSpace());
  EXPECT_TRUE(element.FindAttribute("n").IsUnquoted());
  EXPECT_EQ(WriteToString(source), WriteToString(element));
  EXPECT_EQ("t 1 note<raw>&\xC5\x81", element.GetText());
  EXPECT_EQ(" t  1 note<raw>&\xC5\x81", source.GetText());
  element.AddText("x");  // the clone's own trailing Text is not the source's
  EXPECT_EQ(source.GetChildren().size() + 1, element.GetChildren().size());
}

TEST(NodeTest, CloneOfDocumentPointsRootAtTheCopiedRootAndResetsDeclaration) {
  Document source;
  source.SetVersion("1.1");
  source.SetEncoding("ISO-8859-1");
  source.SetStandalone(false);
  source.AddChild(std::make_unique<Comment>(&source, "before"));
  source.AddRoot(std::make_unique<Element>(&source, "root")).AddText("r");
  std::unique_ptr<Node> copy = source.Clone(nullptr);
  auto& document = static_cast<Document&>(*copy);
  EXPECT_EQ("1.0", document.GetVersion());
  EXPECT_EQ("UTF-8", document.GetEncoding());
  EXPECT_TRUE(document.IsStandalone());
  ASSERT_EQ(2u, document.GetChildren().size());
  EXPECT_EQ(document.GetChildren()[1].get(), &document.GetRoot());
  EXPECT_EQ("root", document.GetRoot().GetName());
  EXPECT_EQ(&document, &document.GetRoot().GetParent());
}

TEST(NodeTest, RemovingTheRootLeavesTheDocumentWithoutOne) {
  Document document;
  document.AddRoot(std::make_unique<Element>(&document, "root"));
  EXPECT_TRUE(document.RemoveChildElement("root"));
  EXPECT_EQ(&NullElement(), &document.GetRoot());

  document.AddRoot(std::make_unique<Element>(&document, "again"));
  document.RemoveAllChildren();
  EXPECT_EQ(&NullElement(), &document.GetRoot());
  EXPECT_EQ("", document.GetText());
}

TEST(NodeTest, AddedNodesTakeTheirContainerAsParent) {
  Element first(nullptr, "first");
  Element second(nullptr, "second");
  auto child = std::make_unique<Element>(&first, "child");
  Element& added = *child;
  second.AddChild(std::move(child));
  EXPECT_EQ(&second, &added.GetParent());
  auto attribute = std::make_unique<Attribute>(nullptr, "a");
  EXPECT_EQ(&second, &second.AddAttribute(std::move(attribute)).GetParent());
}

TEST(NodeTest, CollapseAndTrimTreatOnlyTheFourBlanksAsWhitespace) {
  const struct {
    std::string in;
    std::string collapsed;
    std::string trimmed;
  } cases[] = {
      {"", "", ""},
      {" \t\r\n", " ", ""},
      {"a  b", "a b", "a  b"},
      {"\n a\tb\r ", " a b ", "a\tb"},
      {"a\vb\fc", "a\vb\fc", "a\vb\fc"},  // vertical tab, form feed kept
      {std::string("a\0 b", 4), std::string("a\0 b", 4), std::string("a\0 b", 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    std::string collapsed = c.in;
    CollapseSpaces(collapsed);
    EXPECT_EQ(c.collapsed, collapsed);
    std::string trimmed = c.in;
    TrimSpaces(trimmed);
    EXPECT_EQ(c.trimmed, trimmed);
  }
}

}  // namespace
