// xml/writer.cc: the layout steps, escaping, and every node's Write.
#include "xml/writer.h"

#include <algorithm>
#include <array>
#include <vector>

#include "xml/document.h"
#include "xml/element.h"
#include "xml/reference.h"
#include "xml/text_nodes.h"

namespace xmldoc {

namespace {

// How the text writers treat each byte: kept, a whitespace byte, or one of
// the five that are written as an entity reference.
enum class ByteClass : unsigned char { kPlain, kSpace, kSpecial };

constexpr std::array<ByteClass, 256> MakeByteClasses() {
  std::array<ByteClass, 256> classes{};
  for (const unsigned char byte : {' ', '\t', '\r', '\n'}) classes[byte] = ByteClass::kSpace;
  for (const unsigned char byte : {'<', '>', '&', '\'', '"'}) classes[byte] = ByteClass::kSpecial;
  return classes;
}

constexpr std::array<ByteClass, 256> kByteClasses = MakeByteClasses();

ByteClass ClassOf(char byte) { return kByteClasses[static_cast<unsigned char>(byte)]; }

// The whole reference for each special byte, so it is appended in one go.
std::string_view EscapedForm(char byte) {
  switch (byte) {
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '&':
      return "&amp;";
    case '\'':
      return "&apos;";
    default:
      return "&quot;";
  }
}

constexpr std::string_view kDefaultIndent = "  ";

}  // namespace

const char* EscapeName(char byte) {
  switch (byte) {
    case '<':
      return "lt";
    case '>':
      return "gt";
    case '&':
      return "amp";
    case '\'':
      return "apos";
    case '"':
      return "quot";
    default:
      return nullptr;
  }
}

// ---- WriteContext

WriteContext::WriteContext(std::string& target, const char* indentUnit, std::uint32_t layoutFlags)
    : flags(layoutFlags),
      indent(indentUnit != nullptr ? indentUnit : kDefaultIndent),
      output(target) {}

void WriteContext::NewLine() {
  if (IsCompact() || atLineStart) return;
  output += '\n';
  atLineStart = true;
}

void WriteContext::Indent() {
  atLineStart = false;
  if (indent.empty()) return;  // without it, a deep tree costs depth steps per line
  for (int level = 1; level < depth; ++level) output.append(indent);
}

void WriteContext::BeginItem() {
  ++depth;
  if (IsCompact()) return;
  NewLine();
  Indent();
  closedBlock = false;
}

void WriteContext::EndItem() {
  --depth;
  closedBlock = true;
}

void WriteContext::CloseContent() {
  if (IsCompact()) return;
  if (closedBlock) {
    NewLine();
    Indent();
  }
  --depth;
  closedBlock = true;
}

void WriteContext::ValueBegins(const Attribute& attribute) {
  if (valueOffsets == nullptr) return;
  const std::size_t next = valueOffsets->size();
  if (next < markedAttributes.size() && markedAttributes[next] == &attribute)
    valueOffsets->push_back(output.size());
}

void WriteContext::Append(std::string_view bytes) {
  if (bytes.empty()) return;  // nothing written: a pending line start stays
  output.append(bytes);
  atLineStart = false;
}

void WriteContext::Append(char byte) {
  output += byte;
  atLineStart = false;
}

void WriteContext::AppendEscaped(std::string_view text) {
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (ClassOf(text[i]) != ByteClass::kSpecial) continue;
    output.append(text.data() + runStart, i - runStart);
    output.append(EscapedForm(text[i]));
    runStart = i + 1;
  }
  output.append(text.data() + runStart, text.size() - runStart);
  if (!text.empty()) atLineStart = false;
}

// Collapsing and escaping in one pass: the same bytes as CollapseSpaces on a
// copy followed by AppendEscaped, without the copy.
void WriteContext::AppendCollapsedEscaped(std::string_view text) {
  const char* const data = text.data();
  const std::size_t size = text.size();
  std::size_t runStart = 0;
  std::size_t i = 0;
  while (i < size) {
    const ByteClass byteClass = ClassOf(data[i]);
    if (byteClass == ByteClass::kPlain) {
      ++i;
      continue;
    }
    output.append(data + runStart, i - runStart);
    if (byteClass == ByteClass::kSpecial) {
      output.append(EscapedForm(data[i]));
      ++i;
    } else {
      output += ' ';
      while (i < size && ClassOf(data[i]) == ByteClass::kSpace) ++i;
    }
    runStart = i;
  }
  output.append(data + runStart, size - runStart);
  if (size != 0) atLineStart = false;
}

std::string ToText(const Node& node, const char* indent, std::uint32_t flags) {
  std::string text;
  WriteContext context(text, indent, flags);
  node.Write(context);
  return text;
}

// ---- The containers: one frame per open element, attribute or document.

namespace {

struct WriteFrame {
  const NodeContainer* container;
  std::size_t next;
  bool inAttributes;  // an element whose start tag is still open
};

void OpenContainer(const NodeContainer& container, WriteContext& context,
                   std::vector<WriteFrame>& stack) {
  if (container.IsType(kElementType)) {
    context.BeginItem();
    context.Append('<');
    context.Append(container.GetName());
    stack.push_back({&container, 0, true});
  } else if (container.IsType(kAttributeType)) {
    context.Append(container.GetName());
    const auto& attribute = static_cast<const Attribute&>(container);
    context.Append(attribute.IsUnquoted() ? "=" : "=\"");
    context.ValueBegins(attribute);
    stack.push_back({&container, 0, false});
  } else if (container.IsType(kDocumentType)) {
    const auto& document = static_cast<const Document&>(container);
    if ((context.flags & WriteContext::kOmitDeclaration) != 0) {
      context.atLineStart = true;
    } else {
      context.Append("<?xml version=\"");
      context.Append(document.GetVersion());
      context.Append("\" encoding=\"");
      context.Append(document.GetEncoding());
      context.Append("\"?>");
      context.NewLine();
    }
    stack.push_back({&container, 0, false});
  } else {
    stack.push_back({&container, 0, false});
  }
}

void CloseContainer(const NodeContainer& container, WriteContext& context) {
  if (container.IsType(kElementType)) {
    context.CloseContent();
    context.Append("</");
    context.Append(container.GetName());
    context.Append('>');
  } else if (container.IsType(kAttributeType)) {
    if (!static_cast<const Attribute&>(container).IsUnquoted()) context.Append('"');
  }
}

// The rest of an element's start tag once its attributes are written:
// "/>" for an element without children, which closes it at once.
bool FinishStartTag(const NodeContainer& element, WriteContext& context) {
  if (element.IsEmpty()) {
    context.Append("/>");
    context.EndItem();
    return false;
  }
  context.Append('>');
  return true;
}

// Grows the output ahead of need by a factor of four rather than the string's
// own doubling: every regrowth copies the whole text into fresh pages, and
// for a manifest of megabytes those copies cost more than the writing.
void GrowOutput(std::string& output) {
  constexpr std::size_t kHeadroom = 4096;
  constexpr std::size_t kMinimumCapacity = 16 * 1024;
  if (output.capacity() - output.size() >= kHeadroom) return;
  output.reserve(std::max(output.capacity() * 4, kMinimumCapacity));
}

}  // namespace

namespace {

// What is done to a container once it is written to its end; nothing when
// the tree is kept.
using AfterWritten = std::function<void(const NodeContainer&)>;

void WriteFrames(const NodeContainer& top, WriteContext& context, const AfterWritten* written) {
  std::vector<WriteFrame> stack;
  OpenContainer(top, context, stack);
  while (!stack.empty()) {
    GrowOutput(context.output);
    WriteFrame& frame = stack.back();
    const NodeContainer& container = *frame.container;
    if (frame.inAttributes) {
      const auto& attributes = static_cast<const Element&>(container).GetAttributes();
      if (frame.next < attributes.size()) {
        const Attribute& attribute = *attributes[frame.next++];
        context.Append(' ');
        OpenContainer(attribute, context, stack);
        continue;
      }
      frame.inAttributes = false;
      frame.next = 0;
      if (!FinishStartTag(container, context)) {
        stack.pop_back();
        if (written != nullptr) (*written)(container);
      }
      continue;
    }
    const auto& children = container.GetChildren();
    if (frame.next < children.size()) {
      const Node& child = *children[frame.next++];
      if (child.IsContainer()) {
        OpenContainer(static_cast<const NodeContainer&>(child), context, stack);
      } else {
        child.Write(context);
      }
      continue;
    }
    stack.pop_back();
    CloseContainer(container, context);
    if (written != nullptr) (*written)(container);
  }
}

}  // namespace

void WriteTree(const NodeContainer& top, WriteContext& context) {
  WriteFrames(top, context, nullptr);
}

void WriteReleasing(std::unique_ptr<Document> document, WriteContext& context,
                    const std::function<void(std::size_t)>& released) {
  if (!document) return;
  // The writer reads through const references; the nodes released belong
  // to `document`, which no one else holds, so no one sees the tree shrink.
  const AfterWritten release = [&](const NodeContainer& container) {
    auto& owned = const_cast<NodeContainer&>(container);
    if (owned.IsType(kElementType)) static_cast<Element&>(owned).RemoveAllAttributes();
    owned.RemoveAllChildren();
    if (released) released(context.output.size());
  };
  WriteFrames(*document, context, &release);
}

// ---- The leaves

void Text::Write(WriteContext& context) const {
  if (context.IsCompact()) {
    context.AppendEscaped(Content());
  } else {
    context.AppendCollapsedEscaped(Content());
  }
}

void Comment::Write(WriteContext& context) const {
  context.BeginItem();
  context.Append("<!--");
  context.Append(content);
  context.Append("-->");
  context.NewLine();
  context.EndItem();
}

void Pi::Write(WriteContext& context) const {
  context.BeginItem();
  context.Append("<?");
  context.Append(GetName());
  if (!data.empty()) {
    context.Append(' ');
    context.Append(data);
  }
  context.Append("?>");
  context.NewLine();
  context.EndItem();
}

void CData::Write(WriteContext& context) const {
  context.BeginItem();
  context.Append("<![CDATA[");
  context.Append(content);
  context.Append("]]>");
  context.NewLine();
  context.EndItem();
}

// The whole code point in uppercase hex without leading zeros; 0 as "0".
void CharRef::Write(WriteContext& context) const {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  char digits[8];
  std::size_t count = 0;
  std::uint32_t value = codePoint;
  do {
    digits[count++] = kHexDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  context.Append("&#x");
  while (count > 0) context.Append(digits[--count]);
  context.Append(';');
}

void EntityRef::Write(WriteContext& context) const {
  context.Append('&');
  context.Append(GetName());
  context.Append(';');
}

}  // namespace xmldoc
