// xml/parser.cc: the reader and the grammar of the document, its prolog,
// elements, attributes, content and references. The DOCTYPE rules live in
// parser_dtd.cc.
#include "xml/parser.h"

#include <array>
#include <bit>
#include <climits>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "xml/document.h"
#include "xml/element.h"
#include "xml/exception.h"
#include "xml/reference.h"
#include "xml/text_nodes.h"
#include "xml/utf8.h"

namespace xmldoc {

namespace {

using ByteTable = std::array<bool, 256>;

template <typename Predicate>
constexpr ByteTable MakeTable(Predicate predicate) {
  ByteTable table{};
  for (int byte = 0; byte < 256; ++byte) table[byte] = predicate(static_cast<unsigned char>(byte));
  return table;
}

constexpr bool IsLetter(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
constexpr bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
constexpr bool IsHexDigit(unsigned char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Bytes 0x80 and above never start a name; of the rest only the Latin-1
// letters (and the middle dot) continue one, as single bytes.
constexpr ByteTable kNameStart =
    MakeTable([](unsigned char c) { return IsLetter(c) || c == '_' || c == ':'; });
constexpr ByteTable kNameByte = MakeTable([](unsigned char c) {
  return IsLetter(c) || IsDigit(c) || c == '.' || c == '-' || c == '_' || c == ':' || c == 0xB7 ||
         (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || c >= 0xF8;
});
// In a UTF-8 document the name scan stops at bytes of 0x80 and above too,
// so that they are checked as sequences before they are taken.
constexpr ByteTable kNameByteAscii =
    MakeTable([](unsigned char c) { return c < 0x80 && kNameByte[c]; });
constexpr ByteTable kVersionByte = MakeTable([](unsigned char c) {
  return IsLetter(c) || IsDigit(c) || c == '_' || c == '.' || c == ':' || c == '-';
});
constexpr ByteTable kEncodingByte = MakeTable(
    [](unsigned char c) { return IsLetter(c) || IsDigit(c) || c == '_' || c == '.' || c == '-'; });

// Text that needs no decision: not markup, not a reference, not the "]" that
// could begin "]]>", not a line end (lines are counted) and not a control
// byte. Such runs are skipped in one tight loop and cut in one copy.
constexpr ByteTable kContentPlain = MakeTable(
    [](unsigned char c) { return c == '\t' || (c >= 0x20 && c != '<' && c != '&' && c != ']'); });
constexpr ByteTable kAttributePlain = MakeTable([](unsigned char c) {
  return c == '\t' || (c >= 0x20 && c != '<' && c != '&' && c != '"' && c != '\'');
});

// The same runs for a UTF-8 document: bytes of 0x80 and above leave the tight
// loop to be checked as sequences.
constexpr ByteTable kContentPlainAscii =
    MakeTable([](unsigned char c) { return c < 0x80 && kContentPlain[c]; });
constexpr ByteTable kAttributePlainAscii =
    MakeTable([](unsigned char c) { return c < 0x80 && kAttributePlain[c]; });

// The printable ASCII bytes each run stops at (the content's one twice, to
// fill the four).
constexpr std::array<char, 4> kContentStops{'<', '&', ']', ']'};
constexpr std::array<char, 4> kAttributeStops{'<', '&', '"', '\''};

constexpr bool StopsMatch(const ByteTable& plain, const std::array<char, 4>& stops) {
  for (int byte = 0x20; byte < 0x80; ++byte) {
    bool isStop = false;
    for (const char stop : stops) isStop = isStop || stop == byte;
    if (plain[byte] == isStop) return false;
  }
  return true;
}
static_assert(StopsMatch(kContentPlainAscii, kContentStops));
static_assert(StopsMatch(kAttributePlainAscii, kAttributeStops));

// The start of a run of text skipped sixteen bytes at a time, where the
// processor has SSE2: up to the first block that holds a control byte
// (tab and the line ends included), a byte of 0x80 or above or one of
// `stops`, and there to that byte. Every byte skipped is plain in every run
// table; the byte tables judge the rest. Most runs (indentation, attribute
// values, paths) are a few dozen bytes.
const char* SkipPrintableAscii(const char* from, const char* end,
                               const std::array<char, 4>& stops) {
#if defined(__SSE2__)
  const __m128i belowSpace = _mm_set1_epi8(0x20);
  const __m128i stop0 = _mm_set1_epi8(stops[0]);
  const __m128i stop1 = _mm_set1_epi8(stops[1]);
  const __m128i stop2 = _mm_set1_epi8(stops[2]);
  const __m128i stop3 = _mm_set1_epi8(stops[3]);
  while (end - from >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    // A signed comparison: bytes of 0x80 and above count as below 0x20 too.
    __m128i found = _mm_cmplt_epi8(bytes, belowSpace);
    found = _mm_or_si128(found, _mm_cmpeq_epi8(bytes, stop0));
    found = _mm_or_si128(found, _mm_cmpeq_epi8(bytes, stop1));
    found = _mm_or_si128(found, _mm_cmpeq_epi8(bytes, stop2));
    found = _mm_or_si128(found, _mm_cmpeq_epi8(bytes, stop3));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(found));
    if (mask != 0) return from + std::countr_zero(mask);
    from += 16;
  }
#else
  static_cast<void>(end);
  static_cast<void>(stops);
#endif
  return from;
}

// Comparing each new attribute name with those before it is cheapest for
// the few attributes of a usual tag; past this many a hash set takes over,
// so that thousands of attributes do not cost a quadratic number of
// comparisons.
constexpr std::size_t kLinearAttributeCheck = 16;

bool IsUtf8Name(std::string_view encoding) {
  constexpr std::string_view kUtf8 = "utf-8";
  if (encoding.size() != kUtf8.size()) return false;
  for (std::size_t i = 0; i < kUtf8.size(); ++i) {
    char c = encoding[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kUtf8[i]) return false;
  }
  return true;
}

// Past the largest code point the exact value no longer matters: any such
// number is refused, so it is held here instead of wrapping modulo 2^32.
constexpr std::uint32_t kBeyondCodePoints = 0x110000;

std::uint32_t AddDigit(std::uint32_t number, std::uint32_t base, std::uint32_t digit) {
  if (number >= kBeyondCodePoints) return kBeyondCodePoints;
  const std::uint32_t next = number * base + digit;  // at most 0x10FFFF * 16 + 15: no overflow
  return next >= kBeyondCodePoints ? kBeyondCodePoints : next;
}

std::uint32_t HexValue(unsigned char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

// Control bytes are refused everywhere text is read; tab and the line ends
// are the exceptions.
bool IsControlByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r';
}

bool IsReservedTarget(std::string_view target) {
  if (target.size() != 3) return false;
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return lower(target[0]) == 'x' && lower(target[1]) == 'm' && lower(target[2]) == 'l';
}

// Empties a pending list when the rule that filled it leaves, raising or not.
template <typename List>
class ClearOnExit {
 public:
  explicit ClearOnExit(List& pending) : list(pending) {}
  ClearOnExit(const ClearOnExit&) = delete;
  ClearOnExit& operator=(const ClearOnExit&) = delete;
  ~ClearOnExit() { list.clear(); }

 private:
  List& list;
};

// One-or-more run of bytes from `table` starting at `from`; its end.
const char* EndOfRun(const char* from, const char* end, const ByteTable& table) {
  while (from < end && table[static_cast<unsigned char>(*from)]) ++from;
  return from;
}

int ClampToInt(std::int64_t value) { return value > INT_MAX ? INT_MAX : static_cast<int>(value); }

}  // namespace

Parser::Parser() = default;
Parser::~Parser() = default;

std::unique_ptr<Document> Parser::Parse(const char* data, std::size_t length) {
  struct CloseArena {
    NodeArena& arena;
    ~CloseArena() { arena.Close(); }
  } const closeArena{nodes};
  Start(data, length);
  auto document = std::make_unique<Document>();
  ReadXmlDeclaration(*document);
  checkUtf8 = IsUtf8Name(document->GetEncoding());
  ReadMisc(*document);
  if (ReadDoctype()) ReadMisc(*document);
  std::unique_ptr<Element> root = ReadElement(*document, 1);
  if (!root) Error(ParseError::kNoRootElement);
  document->AddRoot(std::move(root));
  ReadMisc(*document);
  if (GetChar() != 0) Error(ParseError::kDataAfterRoot);
  return document;
}

// ---------------------------------------------------------------- reader

void Parser::Start(const char* data, std::size_t length) {
  begin = data;
  current = data;
  end = data + length;
  lineStart = data;
  line = 1;
  endRead = false;
  checkUtf8 = true;
}

char Parser::GetChar() {
  if (current >= end) {
    endRead = true;
    return 0;
  }
  const char c = *current++;
  if (c == '\n') {
    ++line;
    lineStart = current;
  } else if (c == '\r') {
    if (current < end && *current == '\n') ++current;
    ++line;
    lineStart = current;
    return '\n';
  }
  return c;
}

void Parser::UngetChar() {
  if (endRead) return;
  if (current <= begin) {
    current = begin;
    line = 1;
    lineStart = begin;
    return;
  }
  --current;
  if (*current != '\n' && *current != '\r') return;
  // A CR LF pair was read as one character and is stepped over as one.
  if (*current == '\n' && current > begin && current[-1] == '\r') --current;
  --line;
  lineStart = current;
  while (lineStart > begin && lineStart[-1] != '\n' && lineStart[-1] != '\r') --lineStart;
}

bool Parser::MatchString(std::string_view literal) {
  // Literals hold no line ends, so a byte comparison in place reads them
  // exactly as GetChar would.
  if (static_cast<std::size_t>(end - current) < literal.size() ||
      std::memcmp(current, literal.data(), literal.size()) != 0) {
    return false;
  }
  current += literal.size();
  return true;
}

bool Parser::MatchChar(char byte) {
  if (current < end && *current == byte) {
    ++current;
    return true;
  }
  if (current >= end) endRead = true;
  return false;
}

bool Parser::SkipSpaces() {
  // Most calls find a non-blank at once: answer those without the loop.
  if (current<end&& static_cast<unsigned char>(*current)> ' ') return false;
  const char* const start = current;
  while (current < end) {
    const char c = *current;
    if (c == ' ' || c == '\t') {
      ++current;
    } else if (c == '\n' || c == '\r') {
      GetChar();
    } else {
      break;
    }
  }
  if (current >= end) endRead = true;
  return current != start;
}

bool Parser::MatchEq() {
  if (current < end && *current == '=') {  // the usual name="value"
    ++current;
    SkipSpaces();
    return true;
  }
  const TextMark saved = Mark();
  SkipSpaces();
  if (!MatchChar('=')) {
    Restore(saved);
    return false;
  }
  SkipSpaces();
  return true;
}

bool Parser::MatchKeywordEq(std::string_view keyword) {
  const TextMark saved = Mark();
  if (!SkipSpaces() || !MatchString(keyword)) {
    Restore(saved);
    return false;
  }
  if (!MatchEq()) Error(ParseError::kNoEqualSign);
  return true;
}

bool Parser::ReadDecimal(std::uint32_t& number) {
  const auto first = static_cast<unsigned char>(GetChar());
  if (!IsDigit(first)) return false;
  std::uint32_t value = first - '0';
  while (current < end && IsDigit(static_cast<unsigned char>(*current))) {
    value = AddDigit(value, 10, static_cast<unsigned char>(*current) - '0');
    ++current;
  }
  if (current >= end) endRead = true;
  number = value;
  return true;
}

bool Parser::ReadHex(std::uint32_t& number) {
  const auto first = static_cast<unsigned char>(GetChar());
  if (!IsHexDigit(first)) return false;
  std::uint32_t value = HexValue(first);
  while (current < end && IsHexDigit(static_cast<unsigned char>(*current))) {
    value = AddDigit(value, 16, HexValue(static_cast<unsigned char>(*current)));
    ++current;
  }
  if (current >= end) endRead = true;
  number = value;
  return true;
}

std::string_view Parser::ReadNameView() {
  const char* const start = current;
  if (current >= end || !kNameStart[static_cast<unsigned char>(*current)]) {
    if (current >= end) endRead = true;
    return {};
  }
  ++current;
  const ByteTable& nameByte = checkUtf8 ? kNameByteAscii : kNameByte;
  while (current < end && nameByte[static_cast<unsigned char>(*current)]) ++current;
  if (checkUtf8 && current < end && static_cast<unsigned char>(*current) >= 0x80) {
    // Bytes of 0x80 and above are checked as sequences, then taken as name
    // bytes one by one, as in any other document. A sequence right after
    // the name is checked too: an ill-formed one is an encoding fault, not
    // a syntax fault.
    const char* const stop = EndOfRun(current, end, kNameByte);
    if (stop == current) Utf8Length(current);
    CheckUtf8(current, stop);
    current = stop;
  }
  if (current >= end) endRead = true;
  return {start, static_cast<std::size_t>(current - start)};
}

bool Parser::ReadName(std::string& name) {
  const std::string_view view = ReadNameView();
  if (view.empty()) return false;
  name.assign(view);
  return true;
}

bool Parser::ReadNmtoken(std::string& token) {
  const char* const stop = EndOfRun(current, end, kNameByte);
  if (stop >= end) endRead = true;
  if (stop == current) return false;
  CheckUtf8(current, stop);
  token.assign(current, stop);
  current = stop;
  return true;
}

bool Parser::ReadVersionNum(std::string& version) {
  const char* const stop = EndOfRun(current, end, kVersionByte);
  if (stop >= end) endRead = true;
  if (stop == current) return false;
  version.assign(current, stop);
  current = stop;
  return true;
}

bool Parser::ReadEncName(std::string& encoding) {
  if (current >= end || !IsLetter(static_cast<unsigned char>(*current))) {
    if (current >= end) endRead = true;
    return false;
  }
  const char* const stop = EndOfRun(current + 1, end, kEncodingByte);
  if (stop >= end) endRead = true;
  encoding.assign(current, stop);
  current = stop;
  return true;
}

void Parser::Restore(const TextMark& mark) {
  current = mark.position;
  lineStart = mark.lineStart;
  line = mark.line;
  endRead = mark.endRead;
}

void Parser::Error(ParseError code) const { throw ParsingException(code, Line(), Column()); }

void Parser::ErrorAt(const char* at, ParseError code) {
  current = at;
  Error(code);
}

std::size_t Parser::Utf8Length(const char* at) {
  const Utf8Char decoded = DecodeUtf8(std::string_view(at, static_cast<std::size_t>(end - at)));
  if (!decoded.wellFormed) ErrorAt(at, ParseError::kInvalidUtf8);
  if (decoded.codePoint == 0xFFFE || decoded.codePoint == 0xFFFF) {
    ErrorAt(at, ParseError::kIllegalCharacter);
  }
  return decoded.length;
}

void Parser::CheckUtf8(const char* from, const char* to) {
  if (!checkUtf8) return;
  while (from < to) {
    from += static_cast<unsigned char>(*from) < 0x80 ? 1 : Utf8Length(from);
  }
}

void Parser::TakeRestOfSequence(char c) {
  if (!checkUtf8 || static_cast<unsigned char>(c) < 0x80) return;
  const char* const at = current - 1;
  current = at + Utf8Length(at);
}

int Parser::Line() const { return ClampToInt(line); }

int Parser::Column() const {
  // The first line counts from 1, later lines from 0 (the line end resets it).
  return ClampToInt((current - lineStart) + (line == 1 ? 1 : 0));
}

void Parser::SkipRun(const bool* plain, const std::array<char, 4>& stops) {
  const char* p = current;
  for (;;) {
    // The block scan stops at tabs, and at bytes of 0x80 and above in a
    // document that takes them as they come: one step over such a byte and
    // blocks again.
    for (;;) {
      p = SkipPrintableAscii(p, end, stops);
      if (p >= end || !plain[static_cast<unsigned char>(*p)]) break;
      ++p;
    }
    if (p >= end) break;
    if (*p == '\n') {
      ++p;
    } else if (*p == '\r') {
      ++p;
      if (p < end && *p == '\n') ++p;
    } else if (static_cast<unsigned char>(*p) >= 0x80) {
      // Only a UTF-8 document's table stops here.
      p += Utf8Length(p);
      continue;
    } else {
      break;
    }
    ++line;
    lineStart = p;
  }
  current = p;
}

std::string_view Parser::ReadUntil(std::string_view delimiter) {
  const char* const start = current;
  const char first = delimiter.front();
  // A UTF-8 document stops the scan at bytes of 0x80 and above as well.
  const unsigned highStop = checkUtf8 ? 0x80 : 0x100;
  for (;;) {
    // Only a byte equal to the delimiter's first can begin it; everything
    // else that is neither a control byte nor a line end passes untouched.
    while (current < end && *current != first && static_cast<unsigned char>(*current) >= 0x20 &&
           static_cast<unsigned char>(*current) < highStop) {
      ++current;
    }
    if (current >= end) {
      endRead = true;
      Error(ParseError::kIllegalCharacter);  // the end of input inside the construct
    }
    if (*current == first && MatchString(delimiter)) {
      return {start, static_cast<std::size_t>(current - start) - delimiter.size()};
    }
    if (static_cast<unsigned char>(*current) >= 0x80) {
      current += Utf8Length(current);
      continue;
    }
    const char c = GetChar();
    if (IsControlByte(c) || c == 0) Error(ParseError::kIllegalCharacter);
  }
}

// ---------------------------------------------------------------- prolog

void Parser::ReadXmlDeclaration(Document& document) {
  // A plain prefix match: a PI at the first byte whose target begins with
  // "xml" is taken for the declaration and refused by the version rule.
  if (!MatchString("<?xml")) return;

  if (!MatchKeywordEq("version")) Error(ParseError::kInvalidXmlDeclarationVersion);
  const char versionQuote = GetChar();
  if (!IsQuote(versionQuote)) Error(ParseError::kInvalidXmlDeclarationVersion);
  std::string version;
  if (!ReadVersionNum(version) || !MatchChar(versionQuote)) {
    Error(ParseError::kInvalidXmlDeclarationVersion);
  }
  document.SetVersion(std::move(version));

  if (MatchKeywordEq("encoding")) {
    const char quote = GetChar();
    if (!IsQuote(quote)) Error(ParseError::kInvalidEncodingDeclaration);
    std::string encoding;
    if (!ReadEncName(encoding) || !MatchChar(quote)) Error(ParseError::kInvalidEncodingName);
    document.SetEncoding(std::move(encoding));
  }

  if (MatchKeywordEq("standalone")) {
    const char quote = GetChar();
    if (!IsQuote(quote)) Error(ParseError::kInvalidStandaloneDeclaration);
    bool standalone = false;
    if (MatchString("yes")) {
      standalone = true;
    } else if (!MatchString("no")) {
      Error(ParseError::kInvalidStandaloneValue);
    }
    if (!MatchChar(quote)) Error(ParseError::kInvalidStandaloneValue);
    document.SetStandalone(standalone);
  }

  SkipSpaces();
  if (!MatchString("?>")) Error(ParseError::kInvalidXmlDeclarationEnd);
}

void Parser::ReadMisc(Document& document) {
  for (;;) {
    if (std::unique_ptr<Comment> comment = ReadComment(document)) {
      document.AddChild(std::move(comment));
    } else if (std::unique_ptr<Pi> pi = ReadPi(document)) {
      document.AddChild(std::move(pi));
    } else if (!SkipSpaces()) {
      return;
    }
  }
}

std::unique_ptr<Comment> Parser::ReadComment(NodeContainer& parent) {
  if (!MatchString("<!--")) return nullptr;
  const std::string_view text = ReadUntil("--");
  if (!MatchChar('>')) Error(ParseError::kDoubleHyphenInComment);
  return nodes.New<Comment>(&parent, std::string(text));
}

std::unique_ptr<Pi> Parser::ReadPi(NodeContainer& parent) {
  if (!MatchString("<?")) return nullptr;
  const std::string_view target = ReadNameView();
  if (target.empty()) Error(ParseError::kInvalidPiTarget);
  if (IsReservedTarget(target)) Error(ParseError::kReservedPiTarget);
  SkipSpaces();
  const std::string_view data = ReadUntil("?>");
  return nodes.New<Pi>(&parent, std::string(target), std::string(data));
}

std::unique_ptr<CData> Parser::ReadCData(NodeContainer& parent) {
  if (!MatchString("<![CDATA[")) return nullptr;
  const std::string_view text = ReadUntil("]]>");
  return nodes.New<CData>(&parent, std::string(text));
}

// ---------------------------------------------------------------- elements

std::unique_ptr<Element> Parser::ReadElement(NodeContainer& parent, int depth) {
  if (!MatchChar('<')) return nullptr;
  const std::string_view name = ReadNameView();
  if (name.empty()) Error(ParseError::kInvalidTagName);
  // Counted on the way down rather than by walking up the parents, so the
  // guard costs the same at the 1,000th level as at the first.
  if (depth > kMaxElementDepth) Error(ParseError::kElementsNestedTooDeeply);
  auto element = nodes.New<Element>(&parent, std::string(name));

  if (SkipSpaces()) {
    const ClearOnExit<decltype(pendingAttributes)> clear(pendingAttributes);
    const ClearOnExit<decltype(attributeNames)> clearNames(attributeNames);
    while (std::unique_ptr<Attribute> attribute = ReadAttribute(*element)) {
      pendingAttributes.push_back(std::move(attribute));
      if (!SkipSpaces()) break;
    }
    element->ReserveAttributes(pendingAttributes.size());
    for (std::unique_ptr<Attribute>& attribute : pendingAttributes) {
      const Attribute& added = element->AddAttribute(std::move(attribute));
      if (added.GetName() == "xml:space") element->SetPreserveSpace(added.GetText() == "preserve");
    }
  }

  switch (GetChar()) {
    case '/':
      if (!MatchChar('>')) Error(ParseError::kInvalidEmptyTag);
      return element;
    case '>':
      break;
    default:
      Error(ParseError::kInvalidEndTag);
  }
  ReadContent(*element, depth);
  return element;
}

std::unique_ptr<Attribute> Parser::ReadAttribute(Element& element) {
  const std::string_view name = ReadNameView();
  if (name.empty()) return nullptr;
  // Names hold no line ends: the error is raised at the name's first byte.
  if (pendingAttributes.size() < kLinearAttributeCheck) {
    for (const std::unique_ptr<Attribute>& before : pendingAttributes) {
      if (before->GetName() == name) ErrorAt(name.data(), ParseError::kDuplicateAttribute);
    }
  } else {
    if (attributeNames.empty()) {
      for (const std::unique_ptr<Attribute>& before : pendingAttributes) {
        attributeNames.insert(before->GetName());
      }
    }
    if (!attributeNames.insert(name).second) {
      ErrorAt(name.data(), ParseError::kDuplicateAttribute);
    }
  }
  if (!MatchEq()) Error(ParseError::kNoEqualSign);
  auto attribute = nodes.New<Attribute>(&element, std::string(name));
  ReadAttributeValue(*attribute);
  return attribute;
}

void Parser::ReadAttributeValue(Attribute& attribute) {
  const char quote = GetChar();
  if (!IsQuote(quote)) {
    // Digits may stand without quotes (x=5); they are written back so.
    attribute.SetUnquoted(true);
    UngetChar();
    const char* const start = current;
    while (current < end && IsDigit(static_cast<unsigned char>(*current))) ++current;
    if (current >= end) endRead = true;
    attribute.AddChild(Text::Create(
        &attribute, std::string_view(start, static_cast<std::size_t>(current - start)), nodes));
    return;
  }

  const ClearOnExit<decltype(pendingValue)> clear(pendingValue);
  const char* mark = current;
  for (;;) {
    SkipRun(checkUtf8 ? kAttributePlainAscii.data() : kAttributePlain.data(), kAttributeStops);
    if (current >= end) {
      endRead = true;
      Error(ParseError::kUnexpectedEndOfDocument);
    }
    const char c = *current;
    if (c == quote) {
      const std::string_view last(mark, static_cast<std::size_t>(current - mark));
      ++current;
      if (pendingValue.empty()) {
        attribute.AddChild(Text::Create(&attribute, last, nodes));  // the usual case: one Text
      } else {
        pendingValue.push_back(Text::Create(&attribute, last, nodes));
        AttachAll(attribute, pendingValue);
      }
      return;
    }
    switch (c) {
      case '"':
      case '\'':
        ++current;  // the other quote is part of the value
        break;
      case '&': {
        pendingValue.push_back(Text::Create(
            &attribute, std::string_view(mark, static_cast<std::size_t>(current - mark)), nodes));
        std::unique_ptr<Reference> reference = ReadReference(attribute);
        if (!reference) Error(ParseError::kInvalidReference);
        pendingValue.push_back(std::move(reference));
        mark = current;
        break;
      }
      case '<':
        ++current;
        Error(ParseError::kUnexpectedTag);
      case '\0':
        ++current;
        Error(ParseError::kUnexpectedEndOfDocument);
      default:
        ++current;
        Error(ParseError::kIllegalCharacter);
    }
  }
}

void Parser::ReadContent(Element& element, int depth) {
  // Every flush point follows a reference or markup item (or the start tag),
  // so each one starts a new Text: gathering them with the other children
  // builds the same list that AddText and AddChild would.
  if (pendingContent.size() < static_cast<std::size_t>(depth)) pendingContent.resize(depth);
  std::vector<std::unique_ptr<Node>>& pending = pendingContent[depth - 1];
  const ClearOnExit<std::vector<std::unique_ptr<Node>>> clear(pending);

  const char* mark = current;
  for (;;) {
    SkipRun(checkUtf8 ? kContentPlainAscii.data() : kContentPlain.data(), kContentStops);
    if (current >= end) {
      endRead = true;
      Error(ParseError::kUnexpectedEndOfDocument);
    }
    if (*current != '&' && *current != '<') {
      ReadOddContentByte();
      continue;  // a lone "]" is text: the run goes on from the same mark
    }
    pending.push_back(Text::Create(
        &element, std::string_view(mark, static_cast<std::size_t>(current - mark)), nodes));
    if (*current == '&') {
      std::unique_ptr<Reference> reference = ReadReference(element);
      if (!reference) Error(ParseError::kInvalidReference);
      pending.push_back(std::move(reference));
    } else if (ReadMarkupInContent(element, depth, pending)) {
      AttachAll(element, pending);
      return;
    }
    mark = current;
  }
}

bool Parser::ReadMarkupInContent(Element& element, int depth,
                                 std::vector<std::unique_ptr<Node>>& pending) {
  // The byte after "<" tells which rule can claim it; each of them declines
  // on anything else, so trying only that one (then the element rule) reads
  // exactly as trying all in turn.
  switch (current + 1 < end ? current[1] : '\0') {
    case '/':
      // Unreachable: "</" is claimed.
      if (!ReadEndTag(element)) Error(ParseError::kInvalidMarkup);
      return true;
    case '?': {
      std::unique_ptr<Pi> pi = ReadPi(element);
      if (!pi) Error(ParseError::kInvalidMarkup);  // unreachable: "<?" is claimed
      pending.push_back(std::move(pi));
      return false;
    }
    case '!':
      if (std::unique_ptr<Comment> comment = ReadComment(element)) {
        pending.push_back(std::move(comment));
        return false;
      }
      if (std::unique_ptr<CData> cdata = ReadCData(element)) {
        pending.push_back(std::move(cdata));
        return false;
      }
      break;
    default:
      break;
  }
  // Claims every other "<", raising when no name follows.
  pending.push_back(ReadElement(element, depth + 1));
  return false;
}

void Parser::ReadOddContentByte() {
  const char c = *current++;
  if (c == ']') {
    if (MatchString("]>")) Error(ParseError::kCDataEndInText);
    return;
  }
  // Only control bytes are left besides NUL: the run took all text.
  Error(c == '\0' ? ParseError::kUnexpectedEndOfDocument : ParseError::kIllegalCharacter);
}

void Parser::AttachAll(NodeContainer& container, std::vector<std::unique_ptr<Node>>& pending) {
  container.AddChildren(pending);
}

bool Parser::ReadEndTag(const Element& element) {
  if (!MatchString("</")) return false;
  // The usual case, the start tag's name followed by an ASCII byte that
  // cannot continue a name, is told without scanning the name again: the
  // same bytes made the same name (sequences checked) in the start tag. A
  // byte of 0x80 or above after it takes the long way, which checks it.
  const std::string& expected = element.GetName();
  const std::size_t left = static_cast<std::size_t>(end - current);
  if (left > expected.size() && std::memcmp(current, expected.data(), expected.size()) == 0 &&
      static_cast<unsigned char>(current[expected.size()]) < 0x80 &&
      !kNameByte[static_cast<unsigned char>(current[expected.size()])]) {
    current += expected.size();
    SkipSpaces();
    if (!MatchChar('>')) Error(ParseError::kInvalidEndTag);
    return true;
  }
  const std::string_view name = ReadNameView();
  if (name.empty()) Error(ParseError::kInvalidTagName);
  if (name != element.GetName()) Error(ParseError::kEndTagMismatch);
  SkipSpaces();
  if (!MatchChar('>')) Error(ParseError::kInvalidEndTag);
  return true;
}

std::unique_ptr<Reference> Parser::ReadReference(NodeContainer& parent) {
  if (current >= end || *current != '&') return nullptr;
  if (MatchString("&#")) return ReadCharRef(parent);
  ++current;
  const std::string_view name = ReadNameView();
  if (name.empty() || !MatchChar(';')) Error(ParseError::kInvalidReference);
  auto reference = nodes.New<EntityRef>(&parent, std::string(name));
  if (!reference->Resolve()) Error(ParseError::kUnknownEntityReference);
  return reference;
}

std::unique_ptr<Reference> Parser::ReadCharRef(NodeContainer& parent) {
  std::uint32_t codePoint = 0;
  if (GetChar() == 'x') {
    if (!ReadHex(codePoint)) Error(ParseError::kInvalidHexNumber);
  } else {
    UngetChar();
    if (!ReadDecimal(codePoint)) Error(ParseError::kInvalidDecimalNumber);
  }
  if (!MatchChar(';')) Error(ParseError::kInvalidReference);
  if (!IsXmlCodePoint(codePoint)) Error(ParseError::kIllegalCharacter);
  return nodes.New<CharRef>(&parent, static_cast<char32_t>(codePoint));
}

}  // namespace xmldoc
