// tests/xml/node_lifetime_test.cc: how long nodes live. Trees far deeper than
// the parser accepts must be destroyed, cloned, written and read without
// using the call stack per level (run under ASan, where frames are large);
// parsed nodes share arena blocks, yet each is still destroyed on its own,
// in any order, and outlives its parser's next parse (the sanitizer and
// valgrind runs of these tests catch a slip).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/xml_helpers.h"
#include "tests/support/xml_parse_helpers.h"
#include "xml/parser.h"
#include "xml/xmldoc.h"

namespace {

using brevick::testing::ParseOrFail;
using brevick::testing::WriteToString;
using namespace xmldoc;

constexpr int kDepth = 100000;

// Elements nested kDepth deep, each with an attribute, the innermost holding
// " t " (text on every level would make GetText quadratic); then, once an
// unresolvable entity is added at the bottom, a clone that throws there must
// release what it built.
TEST(NodeLifetimeTest, AHundredThousandLevelsAreWrittenClonedAndDestroyed) {
  Document document;
  NodeContainer* parent = &document;
  for (int level = 0; level < kDepth; ++level) {
    auto element = std::make_unique<Element>(parent, "e");
    Element* next = element.get();
    brevick::testing::AddAttribute(*next, "a", "1");
    level == 0 ? (void)document.AddRoot(std::move(element)) : parent->AddChild(std::move(element));
    parent = next;
  }
  parent->AddText(" t ");
  // No indentation: with it the text would grow with the square of the depth.
  const std::string written = WriteToString(document, "");
  EXPECT_EQ(0u, written.find("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<e a=\"1\">\n<e"));
  EXPECT_NE(std::string::npos, written.find("<e a=\"1\"> t </e>\n</e>\n"));
  EXPECT_EQ("t", document.GetText());
  EXPECT_EQ(written, WriteToString(*document.Clone(nullptr), ""));
  parent->AddChild(std::make_unique<EntityRef>(parent, "deep"));
  EXPECT_THROW(document.Clone(nullptr), InvalidRefException);
  document.GetRoot().RemoveAllChildren();  // the whole chain below goes here
}

// Enough elements (with an attribute and text each) to fill several blocks.
constexpr int kItems = 5000;

std::string ManyItems() {
  std::string xml = "<list>";
  for (int i = 0; i < kItems; ++i)
    xml += "<item n='" + std::to_string(i) + "'>text " + std::to_string(i) + "</item>";
  return xml + "</list>";
}

TEST(NodeLifetimeTest, ArenaNodesGoInAnyOrderAndOutliveTheirParse) {
  Parser parser;
  const std::string items = ManyItems();
  std::unique_ptr<Document> document = parser.Parse(items.data(), items.size());
  Element& list = document->GetRoot();
  // Every other item from the front, then the last ones from the back: the
  // blocks empty out of order.
  for (int i = 0; i < kItems / 2; ++i) ASSERT_TRUE(list.RemoveChildElement("item", i));
  for (int i = 0; i < kItems / 4; ++i)
    ASSERT_TRUE(list.RemoveChildElement("item", kItems / 2 - 1 - i));
  ASSERT_TRUE(list.GetChildElement("item", kItems / 4).IsNull());
  for (int i = 0; i < kItems / 4; ++i) {
    const Element& item = list.GetChildElement("item", i);
    ASSERT_EQ(std::to_string(2 * i + 1) + " text " + std::to_string(2 * i + 1),
              item.FindAttribute("n").GetValue() + " " + item.GetText());
  }
  list.GetOrCreateChildElement("added").AddText(" and more");  // beside the parsed ones
  std::string failing = items;
  failing.back() = '!';  // refused after every node but the root's end was made
  EXPECT_THROW(parser.Parse(failing.data(), failing.size()), ParsingException);
  // A text larger than a block's share gets a block of its own.
  const std::string large(300 * 1024, 'L');
  const std::string big = "<a v='" + large + "'>" + large + "<b/>" + large + "</a>";
  std::unique_ptr<Document> next = parser.Parse(big.data(), big.size());
  EXPECT_EQ(large + large + large, next->GetRoot().FindAttribute("v").GetValue() +
                                       next->GetRoot().GetChildren()[2]->GetValue() +
                                       next->GetRoot().GetChildren()[0]->GetValue());
  // Parsed text extended later moves to a buffer of its own.
  list.GetChildElement("item", 0).AddText(" and more");
  next.reset();
  const std::unique_ptr<Node> copy = list.GetChildElement("item", 0).Clone(nullptr);
  document.reset();
  EXPECT_EQ("text 1 and more", copy->GetText());
}

}  // namespace
