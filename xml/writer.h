// xml/writer.h: the layout state that every node's Write appends through,
// and ToText, which writes a node or document into a string of its own.
//
// The layout is part of the signed output format, down to each blank and line
// break, so the steps below are kept exactly as they are. Usage:
//   const std::string text = xmldoc::ToText(document, "    ");
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace xmldoc {

class Attribute;
class Document;
class Node;
class NodeContainer;

class WriteContext {
 public:
  // No line breaks, no indentation, text written unchanged (but escaped).
  static constexpr std::uint32_t kCompact = 1;
  // The Document writes no XML declaration.
  static constexpr std::uint32_t kOmitDeclaration = 2;

  // Appends to `target` (not cleared). `indentUnit` is one level of
  // indentation, two blanks when nullptr. Both must outlive the context.
  // `layoutFlags` is a combination of kCompact and kOmitDeclaration; other
  // bits are ignored.
  WriteContext(std::string& target, const char* indentUnit = nullptr,
               std::uint32_t layoutFlags = 0);

  bool IsCompact() const { return (flags & kCompact) != 0; }

  // The layout steps.
  // A line break, unless compact or one is already pending.
  void NewLine();
  // depth - 1 indentation units; the line is no longer empty.
  void Indent();
  // Before an element, comment, PI or CDATA section.
  void BeginItem();
  // After an item that closes at once (empty element, comment, PI, CDATA).
  void EndItem();
  // Before an end tag: breaks the line only when a block was last closed.
  void CloseContent();

  // After an attribute's opening quote: records where its value begins when
  // it is the next of markedAttributes.
  void ValueBegins(const Attribute& attribute);

  // Raw bytes. Every non-empty append ends a pending line start.
  void Append(std::string_view bytes);
  void Append(char byte);
  // Bytes with < > & ' " replaced by their predefined entity references.
  void AppendEscaped(std::string_view text);
  // As AppendEscaped, with every whitespace run written as one space.
  void AppendCollapsedEscaped(std::string_view text);

  std::uint32_t flags;
  std::string_view indent;
  std::string& output;
  // Nesting level of the item being written.
  int depth = 0;
  // A complete markup item was the last thing finished at this level.
  bool closedBlock = false;
  // The output ends with a line break that nothing has followed yet.
  bool atLineStart = false;
  // Attributes whose values a caller fills in after writing, in the order
  // the writer meets them: the offset in `output` where each one's value
  // begins is appended to `valueOffsets` (empty at first, and set whenever
  // they are).
  std::span<const Attribute* const> markedAttributes;
  std::vector<std::size_t>* valueOffsets = nullptr;
};

// The text `node` and everything below it write with a fresh WriteContext of
// the given indentation unit (two blanks when nullptr) and flags: a document
// begins with its XML declaration unless kOmitDeclaration is set. The same
// bytes as calling node.Write on such a context over an empty string.
std::string ToText(const Node& node, const char* indent = nullptr, std::uint32_t flags = 0);

// Writes a container and everything below it, keeping its own stack so that
// the depth of the tree never reaches the call stack. The containers' Write
// operations come here.
void WriteTree(const NodeContainer& top, WriteContext& context);

// Writes `document` as Write does, destroying each element's attributes and
// children as soon as its end tag is written, so that the tree shrinks while
// the text grows: for a caller that has no more use for the tree, where the
// two at once would be the largest memory of the run. `released`, when set,
// is called after each release with the size of the output so far.
void WriteReleasing(std::unique_ptr<Document> document, WriteContext& context,
                    const std::function<void(std::size_t)>& released = {});

// The entity name that the writer puts in place of `byte`, or nullptr when
// the byte is written as it is.
const char* EscapeName(char byte);

}  // namespace xmldoc
