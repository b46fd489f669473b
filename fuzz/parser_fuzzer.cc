// fuzz/parser_fuzzer.cc: any bytes through the parser. Refusal is fine; a
// crash, leak, hang or sanitizer report is not. A document that parses must
// also write, clone, and write again identically from its clone; and when it
// is in UTF-8, what it writes must be well-formed UTF-8 without U+FFFE/U+FFFF
// (every byte of the tree came from checked input).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "xml/document.h"
#include "xml/exception.h"
#include "xml/parser.h"
#include "xml/writer.h"

namespace {

bool IsUtf8Encoding(const std::string& name) {
  if (name.size() != 5) return false;
  const char* const expected = "utf-8";
  for (std::size_t i = 0; i < 5; ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != expected[i]) return false;
  }
  return true;
}

// Decodes by the code points' bounds, independently of the parser's tables.
bool IsCleanUtf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80    ? 1
                         : lead >= 0xF0 ? 4
                         : lead >= 0xE0 ? 3
                         : lead >= 0xC0 ? 2
                                        : 0;
    if (length == 0 || i + length > text.size()) return false;
    std::uint32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      codePoint = (codePoint << 6) | (next & 0x3F);
    }
    static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < kSmallest[length] || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint == 0xFFFE ||
        codePoint == 0xFFFF) {
      return false;
    }
    i += length;
  }
  return true;
}

std::string WriteWithoutDeclaration(const xmldoc::Node& node, std::uint32_t flags) {
  return xmldoc::ToText(node, "  ", flags | xmldoc::WriteContext::kOmitDeclaration);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<xmldoc::Document> document;
  try {
    document = xmldoc::Parser().Parse(reinterpret_cast<const char*>(data), size);
  } catch (const xmldoc::ParsingException& e) {
    using xmldoc::ParseError;
    if (e.errorCode <= ParseError::kNoError || e.errorCode >= ParseError::kCount) std::abort();
    return 0;
  }
  const std::unique_ptr<xmldoc::Node> copy = document->Clone(nullptr);
  for (const std::uint32_t flags : {0u, std::uint32_t{xmldoc::WriteContext::kCompact}}) {
    // The declaration is left out: a cloned document takes the defaults.
    if (WriteWithoutDeclaration(*document, flags) != WriteWithoutDeclaration(*copy, flags)) {
      std::abort();
    }
  }
  const std::string written = xmldoc::ToText(*document, "    ");
  if (IsUtf8Encoding(document->GetEncoding()) && !IsCleanUtf8(written)) std::abort();
  (void)document->GetText();
  return 0;
}
