// xml/text_nodes.h: the leaf nodes that carry text: Text, CData, Comment and
// Pi, and the null objects of the last three.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "xml/node.h"

namespace xmldoc {

// Character data, named "#text". Written with whitespace collapsed and the
// five special bytes escaped (unchanged but escaped when compact).
//
// A parsed tree is mostly Text nodes (every run of indentation is one), and
// most of their text is too long for a string's inline room. So a Text made
// by Create keeps its bytes right behind the node, in the node's own
// allocation; only text appended later moves to a buffer of its own.
class Text : public Node {
 public:
  // The bytes in a buffer of their own.
  Text(NodeContainer* parent, std::string_view text);
  // The bytes in the node's own allocation; the usual way to make one.
  static std::unique_ptr<Text> Create(NodeContainer* parent, std::string_view text);
  // The same, placed in `arena` (the parser's way).
  static std::unique_ptr<Text> Create(NodeContainer* parent, std::string_view text,
                                      NodeArena& arena);
  ~Text() override;

  // "#text".
  const std::string& GetName() const override;

  std::string GetValue() const override { return std::string(Content()); }
  std::string GetText() const override { return std::string(Content()); }
  bool IsType(int typeId) const override { return typeId == kTextType; }
  std::unique_ptr<Node> Clone(NodeContainer* parent) const override;
  void Write(WriteContext& context) const override;

  // The text itself, without a copy; valid until the text is extended.
  std::string_view Content() const { return {bytes, size}; }
  // Extends the text; this is how AddText merges adjacent runs.
  void AppendText(std::string_view more);

 private:
  struct InlineTag {};
  Text(InlineTag, NodeContainer* parent, std::string_view text);

  // The bytes: right behind the node while capacity is 0, else a buffer of
  // `capacity` bytes that the node owns.
  char* bytes;
  std::size_t size;
  std::size_t capacity = 0;
};

// A CDATA section, named "#cdata-section"; written unchanged.
class CData : public Node {
 public:
  // The first form has the null element as parent.
  explicit CData(std::string text);
  CData(NodeContainer* parent, std::string text);

  // "#cdata-section"; empty for the null section.
  const std::string& GetName() const override;

  std::string GetValue() const override { return content; }
  std::string GetText() const override { return content; }
  bool IsType(int typeId) const override { return typeId == kCDataType; }
  std::unique_ptr<Node> Clone(NodeContainer* parent) const override;
  void Write(WriteContext& context) const override;
  // Replaces the section's text. Ignored on the null CDATA section.
  void SetValue(std::string_view newText);

  const std::string& Content() const { return content; }

 private:
  friend CData& NullCData();
  explicit CData(NullTag);

  std::string content;
};

// A comment, named "#comment"; its text is written unchanged and counts in
// the text of the element or document that holds it.
class Comment : public Node {
 public:
  // The first form has the null element as parent.
  explicit Comment(std::string text);
  Comment(NodeContainer* parent, std::string text);

  // "#comment"; empty for the null comment.
  const std::string& GetName() const override;

  std::string GetValue() const override { return content; }
  std::string GetText() const override { return content; }
  bool IsType(int typeId) const override { return typeId == kCommentType; }
  std::unique_ptr<Node> Clone(NodeContainer* parent) const override;
  void Write(WriteContext& context) const override;

  const std::string& Content() const { return content; }

 private:
  friend Comment& NullComment();
  explicit Comment(NullTag);

  std::string content;
};

// A processing instruction: the target is the node's name; value and text
// are its data.
class Pi : public Node {
 public:
  // The first form has the null element as parent.
  Pi(std::string targetName, std::string instructionData);
  Pi(NodeContainer* parent, std::string targetName, std::string instructionData);

  // The target.
  const std::string& GetName() const override { return target; }

  std::string GetValue() const override { return data; }
  std::string GetText() const override { return data; }
  bool IsType(int typeId) const override { return typeId == kPiType; }
  std::unique_ptr<Node> Clone(NodeContainer* parent) const override;
  void Write(WriteContext& context) const override;

  const std::string& Data() const { return data; }

 private:
  friend Pi& NullPi();
  explicit Pi(NullTag);

  std::string target;
  std::string data;
};

// Shared null objects that no lookup returns but IsNull counts; empty,
// parented by the null element, never changed.
Comment& NullComment();
Pi& NullPi();
CData& NullCData();

}  // namespace xmldoc
