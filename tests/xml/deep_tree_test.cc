// tests/xml/deep_tree_test.cc: trees far deeper than the parser accepts must
// be destroyed, cloned, written and read without using the call stack per
// level (run under ASan, where frames are large).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/xml_helpers.h"
#include "xml/xmldoc.h"

namespace {

using brevick::testing::WriteToString;
using namespace xmldoc;

constexpr int kDepth = 100000;

// Elements nested kDepth deep, each with an attribute; the innermost holds
// " t ", and an unresolvable entity when asked. (Text on every level would
// make GetText quadratic: each level normalises all the text below it.)
std::unique_ptr<Document> BuildDeepDocument(bool withUnknownEntity) {
  auto document = std::make_unique<Document>();
  NodeContainer* parent = document.get();
  for (int level = 0; level < kDepth; ++level) {
    auto element = std::make_unique<Element>(parent, "e");
    Element* next = element.get();
    brevick::testing::AddAttribute(*next, "a", "1");
    if (level == 0) {
      document->AddRoot(std::move(element));
    } else {
      parent->AddChild(std::move(element));
    }
    parent = next;
  }
  parent->AddText(" t ");
  if (withUnknownEntity) parent->AddChild(std::make_unique<EntityRef>(parent, "deep"));
  return document;
}

TEST(DeepTreeTest, DestroysClonesWritesAndReadsAHundredThousandLevels) {
  const std::unique_ptr<Document> document = BuildDeepDocument(false);
  // No indentation: with it the text would grow with the square of the depth.
  const std::string written = WriteToString(*document, "");
  EXPECT_EQ(0u, written.find("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<e a=\"1\">\n<e"));
  EXPECT_NE(std::string::npos, written.find("<e a=\"1\"> t </e>\n</e>\n"));
  EXPECT_EQ(std::string::npos, written.find("/>"));
  EXPECT_EQ("t", document->GetText());

  const std::unique_ptr<Node> copy = document->Clone(nullptr);
  EXPECT_EQ(written, WriteToString(*copy, ""));

  Element& root = document->GetRoot();
  root.RemoveAllChildren();  // the whole chain below goes here
  EXPECT_TRUE(root.IsEmpty());
}

TEST(DeepTreeTest, CloneThatThrowsDeepDownReleasesWhatItBuilt) {
  const std::unique_ptr<Document> document = BuildDeepDocument(true);
  try {
    document->Clone(nullptr);
    FAIL() << "no exception";
  } catch (const InvalidRefException& e) {
    EXPECT_EQ("deep", e.entityName);
  }
}

TEST(DeepTreeTest, DeepChainsThroughAttributesAreHandledToo) {
  auto top = std::make_unique<Element>(nullptr, "top");
  Element* element = top.get();
  for (int level = 0; level < kDepth; ++level) {
    auto attribute = std::make_unique<Attribute>(element, "a");
    auto inner = std::make_unique<Element>(attribute.get(), "e");
    Element* next = inner.get();
    attribute->AddChild(std::move(inner));
    element->AddAttribute(std::move(attribute));
    element = next;
  }
  const std::string written = WriteToString(*top, "", WriteContext::kCompact);
  EXPECT_EQ(0u, written.find("<top a=\"<e a=\"<e"));
  const std::unique_ptr<Node> copy = top->Clone(nullptr);
  EXPECT_EQ(written, WriteToString(*copy, "", WriteContext::kCompact));
  EXPECT_EQ("", copy->GetText());
  top.reset();
}

}  // namespace
