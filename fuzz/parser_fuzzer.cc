// fuzz/parser_fuzzer.cc: any bytes through the parser. Refusal is fine; a
// crash, leak, hang or sanitizer report is not. A document that parses must
// also write, clone, and write again identically from its clone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "xml/document.h"
#include "xml/exception.h"
#include "xml/parser.h"
#include "xml/writer.h"

namespace {

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
  (void)xmldoc::ToText(*document, "    ");
  (void)document->GetText();
  return 0;
}
