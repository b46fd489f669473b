// xml/exception.cc: the library's exceptions and the parse error messages.
#include "xml/exception.h"

#include <iterator>

namespace xmldoc {

namespace {

// The messages the tool shows for each code, exact as users and scripts
// know them, odd spellings ("Unlegal", "declatation") included.
constexpr const char* kErrorTexts[] = {
    "No error",
    "Unexpected end of document",
    "Unlegal character",
    "There is no equal sign",
    "Invalid value of the attribute",
    "Unexpected tag",
    "Invalid reference",
    "Invalid hexadecimal number",
    "Invalid decimal number",
    "Unknown entity reference",
    "Invalid name of tag",
    "Invalid empty tag",
    "Invalid End tag",
    "The end tag has not the same name as the start tag",
    "Invalid or unknown markup",
    "']]>' is not allowed here",
    "The document has no root (element)",
    "Invalid XML declaration (version)",
    "Invalid end of XML declaration",
    "Invalid encoding declaration",
    "Invalid name of encoding",
    "Invalid standalone declaration",
    "Invalid standalone value. Must be 'yes' or 'no'",
    "'--' is not allowed in the content of a comment",
    "Invalid Processing instruction target name",
    "Processing instruction target names may not be 'XML' in any combination of cases",
    "Error in DOCTYPE declaration",
    "Invalid parameter entity",
    "Invalid character in PUBLIC literal",
    "Invalid ELEMENT declaration",
    "'|' is expected here",
    "',' is expected here",
    "Invalid content particle",
    "Invalid ATTLIST declaration",
    "Invalid definition of attribute",
    "Invalid NOTATION type",
    "Invalid enumeration",
    "Invalid #FIXED declaration",
    "Invalid ENTITY declatation",
    "Invalid NDATA declaration",
    "Invalid NOTATION declaration",
    "Invalid SYSTEM literal",
    "Invalid PUBLIC literal",
    "Unexpected data after the root element",
    "Elements are nested too deeply",
};
static_assert(std::size(kErrorTexts) == kErrorCodeCount, "one message per parse error code");

}  // namespace

const char* ErrorText(int code) {
  if (code < 0 || code >= kErrorCodeCount) return "Unknown error";
  return kErrorTexts[code];
}

Exception::~Exception() = default;
ParsingException::~ParsingException() = default;
InvalidRefException::~InvalidRefException() = default;

}  // namespace xmldoc
