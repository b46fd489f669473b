// tests/xml/node_arena_test.cc: parsed nodes share arena blocks, yet each is
// still destroyed on its own. Removing nodes in any order, a node larger than
// a block's share, a document outliving its parser's next parse and a parse
// that fails half-way must neither lose nor free anything early (the
// sanitizer and valgrind runs of these tests catch a slip).

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/xml_parse_helpers.h"
#include "xml/document.h"
#include "xml/element.h"
#include "xml/exception.h"
#include "xml/parser.h"
#include "xml/text_nodes.h"

namespace {

using brevick::testing::ParseOrFail;

// Enough elements (with an attribute and text each) to fill several blocks.
constexpr int kItems = 5000;

std::string ManyItems() {
  std::string xml = "<list>";
  for (int i = 0; i < kItems; ++i) {
    xml += "<item n='" + std::to_string(i) + "'>text " + std::to_string(i) + "</item>";
  }
  return xml + "</list>";
}

TEST(NodeArenaTest, KeepsTheRestOfATreeWhileNodesAreRemovedInAnyOrder) {
  const auto document = ParseOrFail(ManyItems());
  ASSERT_TRUE(document);
  xmldoc::Element& list = document->GetRoot();
  // Every other item from the front, then the last ones from the back: the
  // blocks empty out of order.
  for (int i = 0; i < kItems / 2; ++i) ASSERT_TRUE(list.RemoveChildElement("item", i));
  for (int i = 0; i < kItems / 4; ++i)
    ASSERT_TRUE(list.RemoveChildElement("item", kItems / 2 - 1 - i));
  ASSERT_TRUE(list.GetChildElement("item", kItems / 4).IsNull());
  for (int i = 0; i < kItems / 4; ++i) {
    const xmldoc::Element& item = list.GetChildElement("item", i);
    ASSERT_EQ(std::to_string(2 * i + 1) + " text " + std::to_string(2 * i + 1),
              item.FindAttribute("n").GetValue() + " " + item.GetText());
  }
  // Nodes added by hand live beside the parsed ones and go with them.
  list.GetOrCreateChildElement("added").AddText("by hand");
  list.RemoveAllChildren();
  EXPECT_TRUE(list.IsEmpty());
  // A text larger than a block's share gets a block of its own.
  const std::string large(300 * 1024, 'L');
  const auto big = ParseOrFail("<a v='" + large + "'>" + large + "<b/>" + large + "</a>");
  ASSERT_TRUE(big);
  EXPECT_EQ(large, big->GetRoot().FindAttribute("v").GetValue());
  ASSERT_EQ(3u, big->GetRoot().GetChildren().size());
  EXPECT_EQ(large, static_cast<const xmldoc::Text&>(*big->GetRoot().GetChildren()[2]).Content());
}

TEST(NodeArenaTest, DocumentsAndClonesOutliveTheParseThatFollowsAndFailedParsesFreeTheirNodes) {
  xmldoc::Parser parser;
  const std::string first = ManyItems();
  std::unique_ptr<xmldoc::Document> kept = parser.Parse(first.data(), first.size());
  std::string failing = ManyItems();
  failing.back() = '!';  // refused at the very end, after every node but the root's end was made
  EXPECT_THROW(parser.Parse(failing.data(), failing.size()), xmldoc::ParsingException);
  const std::string second = "<b>second</b>";
  std::unique_ptr<xmldoc::Document> next = parser.Parse(second.data(), second.size());
  // Parsed text extended later moves to a buffer of its own.
  next->GetRoot().AddText(" and more");
  kept->GetRoot().GetChildElement("item", kItems - 1).AddText(" and more");
  next.reset();
  EXPECT_EQ("text " + std::to_string(kItems - 1) + " and more",
            kept->GetRoot().GetChildElement("item", kItems - 1).GetText());
  const std::unique_ptr<xmldoc::Node> copy =
      kept->GetRoot().GetChildElement("item", 7).Clone(nullptr);
  kept.reset();
  EXPECT_EQ("text 7", copy->GetText());
}

}  // namespace
