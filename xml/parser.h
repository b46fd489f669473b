// xml/parser.h: Parser, the one-pass recursive-descent reader that turns a
// buffer of 8-bit XML text into a Document, and checks the syntax of a
// document type declaration on the way (nothing of the DTD is kept).
//
// Character data, comments, PIs, CDATA sections and attribute values are
// exact slices of the input, line ends included. Character and entity
// references are not expanded: each becomes a CharRef or EntityRef node.
// Parsing stops at the first fault with a ParsingException carrying the code
// and the reader's line and column; whatever was built is destroyed.
//
// A document in UTF-8 (no declaration, no encoding in it, or "UTF-8" in any
// letter case) must be well-formed UTF-8 wherever bytes of 0x80 and above may
// stand: names, attribute values, text, comments, PIs, CDATA sections and the
// literals of a DOCTYPE. An ill-formed sequence is refused at its first byte;
// U+FFFE and U+FFFF are refused like their references. The scans stay on
// ASCII and look at a sequence only when they meet a byte of 0x80 or above. A
// document that names another encoding keeps its bytes unchecked.
//
// Every grammar rule follows one convention: it recognises its construct and
// returns the new node (or true), or declines with nullptr (or false) leaving
// the reader where it was, or, once the construct has begun and turns out
// malformed, raises through Error.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "xml/exception.h"
#include "xml/node_arena.h"

namespace xmldoc {

class Attribute;
class CData;
class Comment;
class Document;
class Element;
class Node;
class NodeContainer;
class Pi;
class Reference;

// Deeper element nesting is refused with ParseError::kElementsNestedTooDeeply
// rather than risking the stack: each open element costs a few frames of the
// content rules.
inline constexpr int kMaxElementDepth = 1000;
// Nested parentheses of a content model recurse the same way; deeper lists are
// refused as an invalid content particle.
inline constexpr int kMaxParticleDepth = 1000;

class Parser {
 public:
  Parser();
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;
  virtual ~Parser();

  // Parses `length` bytes at `data` (no terminating zero needed; a zero byte
  // ends the input early). Returns a new Document owned by the caller, or
  // throws ParsingException. The buffer is not used after the call returns.
  // A Parser may parse several buffers in turn.
  std::unique_ptr<Document> Parse(const char* data, std::size_t length);

 protected:
  // A saved reader position: where a run of text begins (cut later with Cut),
  // or a point that a declining rule restores.
  struct TextMark {
    const char* position;
    const char* lineStart;
    std::int64_t line;
    bool endRead;
  };

  // Points the reader at a buffer: line 1, column 1.
  void Start(const char* data, std::size_t length);

  // The reader. Line ends fold: CR LF and a lone CR read as one LF. The end
  // of input, and a zero byte inside it, read as 0.
  char GetChar();
  // Steps back over the last character read; nothing once the end was read.
  void UngetChar();
  // Consumes `literal` when the input continues with it; else reads nothing.
  bool MatchString(std::string_view literal);
  // Consumes `byte` (never a line end) when it is next.
  bool MatchChar(char byte);
  // Consumes a run of space, tab, CR, LF; true when there was at least one.
  bool SkipSpaces();
  // S? "=" S?; reads nothing when there is no "=".
  bool MatchEq();
  // S keyword Eq: declines (reading nothing) without S and keyword; raises
  // "no equal sign" when the keyword stands without "=".
  bool MatchKeywordEq(std::string_view keyword);
  // A run of digits. Numbers past the largest code point saturate instead of
  // wrapping, so a huge reference can never alias a harmless character.
  // False, with the non-digit read, when no digit is next.
  bool ReadDecimal(std::uint32_t& number);
  bool ReadHex(std::uint32_t& number);
  // Tokens of one byte class; false, reading nothing, when the first byte
  // does not fit. Name: start byte then name bytes; Nmtoken: name bytes;
  // VersionNum: [A-Za-z0-9_.:-]+; EncName: [A-Za-z][A-Za-z0-9._-]*.
  bool ReadName(std::string& name);
  bool ReadNmtoken(std::string& token);
  bool ReadVersionNum(std::string& version);
  bool ReadEncName(std::string& encoding);
  // Only Name, without a copy: a view into the input buffer.
  std::string_view ReadNameView();

  TextMark Mark() const { return {current, lineStart, line, endRead}; }
  void Restore(const TextMark& mark);
  // The input from `mark` up to the reader, less `trailing` bytes already read
  // (a closing delimiter).
  std::string_view Cut(const TextMark& mark, std::size_t trailing) const {
    return {mark.position, static_cast<std::size_t>(current - mark.position) - trailing};
  }

  // Raises ParsingException with `code` at the reader's line and column.
  [[noreturn]] void Error(ParseError code) const;
  // Raises `code` at `at`, a byte of the current line at or before the reader.
  [[noreturn]] void ErrorAt(const char* at, ParseError code);

  // In a UTF-8 document, the length of the sequence that starts at `at`
  // (whose first byte is 0x80 or above); raises kInvalidUtf8 at `at` when it
  // is ill-formed, kIllegalCharacter when it is U+FFFE or U+FFFF. `at` lies
  // on the current line.
  std::size_t Utf8Length(const char* at);
  // Checks every sequence that begins in [from, to) (a sequence may run past
  // `to`); nothing in a document of another encoding.
  void CheckUtf8(const char* from, const char* to);
  // After GetChar returned `c`: in a UTF-8 document a lead byte takes the
  // rest of its sequence with it.
  void TakeRestOfSequence(char c);
  // The reader's position as ParsingException reports it: lines from 1; the
  // column counts the bytes read since the last line end, plus one on the
  // first line.
  int Line() const;
  int Column() const;

 private:
  // Prolog and document.
  void ReadXmlDeclaration(Document& document);
  void ReadMisc(Document& document);
  std::unique_ptr<Comment> ReadComment(NodeContainer& parent);
  std::unique_ptr<Pi> ReadPi(NodeContainer& parent);
  std::unique_ptr<CData> ReadCData(NodeContainer& parent);

  // Elements and content. `depth` is 1 for the root element.
  std::unique_ptr<Element> ReadElement(NodeContainer& parent, int depth);
  std::unique_ptr<Attribute> ReadAttribute(Element& element);
  void ReadAttributeValue(Attribute& attribute);
  void ReadContent(Element& element, int depth);
  // At a "<" in content: reads the comment, PI, CDATA section or child
  // element there into `pending`, or the element's end tag, and then says
  // true (the element is complete).
  bool ReadMarkupInContent(Element& element, int depth,
                           std::vector<std::unique_ptr<Node>>& pending);
  // At a byte that stops a text run but begins no reference or markup: a "]"
  // stays text unless "]]>" follows; anything else raises.
  void ReadOddContentByte();
  bool ReadEndTag(const Element& element);
  std::unique_ptr<Reference> ReadReference(NodeContainer& parent);
  std::unique_ptr<Reference> ReadCharRef(NodeContainer& parent);
  // Scans to the first `delimiter`, leaves the reader after it and returns
  // the text before it. Control bytes and the end of input on the way are
  // "Unlegal character".
  std::string_view ReadUntil(std::string_view delimiter);
  // Hands the nodes gathered in `pending` to `container` in one go, so that
  // its child list is sized once instead of growing node by node.
  static void AttachAll(NodeContainer& container, std::vector<std::unique_ptr<Node>>& pending);
  // Consumes a run of plain bytes (those `plain` marks, plus tab, CR, LF),
  // counting lines; stops at the first other byte or the end, unread.
  // `stops` are the printable ASCII bytes that `plain` does not mark.
  void SkipRun(const bool* plain, const std::array<char, 4>& stops);

  // Document type declaration (parser_dtd.cc).
  bool ReadDoctype();
  bool ReadMarkupDeclaration();
  bool ReadElementDeclaration();
  bool ReadContentSpec();
  bool ReadMixed();
  bool ReadChildren();
  bool ReadContentParticle(int depth);
  bool ReadParticleList(int depth);
  bool ReadAttlistDeclaration();
  bool ReadAttributeDefinition();
  bool ReadAttributeType();
  bool ReadNotationType();
  bool ReadEnumeration();
  bool ReadDefaultDeclaration();
  bool ReadEntityDeclaration();
  bool ReadNData();
  bool ReadEntityValue();
  bool ReadPeReference();
  bool ReadExternalId();
  bool ReadNotationDeclaration();
  bool ReadSystemLiteral();
  bool ReadPubidLiteral();
  // The rest of a quoted literal after its opening quote, each byte judged by
  // `legal`; a byte it refuses raises `badByteCode`, the end "Unexpected end".
  void ReadLiteralBody(char quote, bool (*legal)(unsigned char), ParseError badByteCode);

  // Nodes read but not yet attached: the content of each open element (by
  // depth), the attributes of the start tag being read, and the parts of the
  // attribute value being read. Reused from element to element; every rule
  // that fills one empties it again, also when it raises.
  std::deque<std::vector<std::unique_ptr<Node>>> pendingContent;
  std::vector<std::unique_ptr<Attribute>> pendingAttributes;
  std::vector<std::unique_ptr<Node>> pendingValue;
  // The names of the start tag's attributes, once there are too many of
  // them to compare each new name with all before it. Views into the input.
  std::unordered_set<std::string_view> attributeNames;

  // Where the nodes of the document being parsed are placed; let go of
  // when the parse ends, so that a parser kept between parses holds none.
  NodeArena nodes;

  const char* begin = nullptr;
  const char* current = nullptr;
  const char* end = nullptr;
  // Where the current line's bytes begin; the column is counted from here,
  // so a tight scan over text only has to note line ends.
  const char* lineStart = nullptr;
  std::int64_t line = 1;
  // The end of input has been read: a step back no longer moves.
  bool endRead = false;
  // The document is in UTF-8: bytes of 0x80 and above are checked.
  bool checkUtf8 = true;
};

}  // namespace xmldoc
