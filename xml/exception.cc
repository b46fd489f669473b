// xml/exception.cc: the library's exceptions and the parse error messages.
#include "xml/exception.h"

#include <cstddef>
#include <iterator>

namespace xmldoc {

namespace {

struct ErrorMessage {
  ParseError code;
  const char* text;
};

// The messages the tool shows for each code. Users and scripts match them
// exactly, odd spellings ("Unlegal", "declatation") included, so they stay
// as they are. One row per code, in code order.
constexpr ErrorMessage kErrorMessages[] = {
    {ParseError::kNoError, "No error"},
    {ParseError::kUnexpectedEndOfDocument, "Unexpected end of document"},
    {ParseError::kIllegalCharacter, "Unlegal character"},
    {ParseError::kNoEqualSign, "There is no equal sign"},
    {ParseError::kInvalidAttributeValue, "Invalid value of the attribute"},
    {ParseError::kUnexpectedTag, "Unexpected tag"},
    {ParseError::kInvalidReference, "Invalid reference"},
    {ParseError::kInvalidHexNumber, "Invalid hexadecimal number"},
    {ParseError::kInvalidDecimalNumber, "Invalid decimal number"},
    {ParseError::kUnknownEntityReference, "Unknown entity reference"},
    {ParseError::kInvalidTagName, "Invalid name of tag"},
    {ParseError::kInvalidEmptyTag, "Invalid empty tag"},
    {ParseError::kInvalidEndTag, "Invalid End tag"},
    {ParseError::kEndTagMismatch, "The end tag has not the same name as the start tag"},
    {ParseError::kInvalidMarkup, "Invalid or unknown markup"},
    {ParseError::kCDataEndInText, "']]>' is not allowed here"},
    {ParseError::kNoRootElement, "The document has no root (element)"},
    {ParseError::kInvalidXmlDeclarationVersion, "Invalid XML declaration (version)"},
    {ParseError::kInvalidXmlDeclarationEnd, "Invalid end of XML declaration"},
    {ParseError::kInvalidEncodingDeclaration, "Invalid encoding declaration"},
    {ParseError::kInvalidEncodingName, "Invalid name of encoding"},
    {ParseError::kInvalidStandaloneDeclaration, "Invalid standalone declaration"},
    {ParseError::kInvalidStandaloneValue, "Invalid standalone value. Must be 'yes' or 'no'"},
    {ParseError::kDoubleHyphenInComment, "'--' is not allowed in the content of a comment"},
    {ParseError::kInvalidPiTarget, "Invalid Processing instruction target name"},
    {ParseError::kReservedPiTarget,
     "Processing instruction target names may not be 'XML' in any combination of cases"},
    {ParseError::kInvalidDoctype, "Error in DOCTYPE declaration"},
    {ParseError::kInvalidParameterEntity, "Invalid parameter entity"},
    {ParseError::kInvalidPublicLiteralChar, "Invalid character in PUBLIC literal"},
    {ParseError::kInvalidElementDeclaration, "Invalid ELEMENT declaration"},
    {ParseError::kBarExpected, "'|' is expected here"},
    {ParseError::kCommaExpected, "',' is expected here"},
    {ParseError::kInvalidContentParticle, "Invalid content particle"},
    {ParseError::kInvalidAttlistDeclaration, "Invalid ATTLIST declaration"},
    {ParseError::kInvalidAttributeDefinition, "Invalid definition of attribute"},
    {ParseError::kInvalidNotationType, "Invalid NOTATION type"},
    {ParseError::kInvalidEnumeration, "Invalid enumeration"},
    {ParseError::kInvalidFixedDeclaration, "Invalid #FIXED declaration"},
    {ParseError::kInvalidEntityDeclaration, "Invalid ENTITY declatation"},
    {ParseError::kInvalidNdataDeclaration, "Invalid NDATA declaration"},
    {ParseError::kInvalidNotationDeclaration, "Invalid NOTATION declaration"},
    {ParseError::kInvalidSystemLiteral, "Invalid SYSTEM literal"},
    {ParseError::kInvalidPublicLiteral, "Invalid PUBLIC literal"},
    {ParseError::kDataAfterRoot, "Unexpected data after the root element"},
    {ParseError::kElementsNestedTooDeeply, "Elements are nested too deeply"},
    {ParseError::kDuplicateAttribute, "An attribute appears twice in the same element"},
    {ParseError::kInvalidUtf8, "Invalid UTF-8 sequence"},
};

constexpr bool CoversEveryCodeInOrder() {
  if (std::size(kErrorMessages) != static_cast<std::size_t>(ParseError::kCount)) return false;
  for (std::size_t i = 0; i < std::size(kErrorMessages); ++i) {
    if (static_cast<std::size_t>(kErrorMessages[i].code) != i) return false;
  }
  return true;
}
static_assert(CoversEveryCodeInOrder(), "one message per parse error code, in code order");

}  // namespace

const char* ErrorText(ParseError code) {
  const int number = static_cast<int>(code);
  if (number < 0 || number >= static_cast<int>(ParseError::kCount)) return "Unknown error";
  return kErrorMessages[number].text;
}

Exception::~Exception() = default;
ParsingException::~ParsingException() = default;
InvalidRefException::~InvalidRefException() = default;

}  // namespace xmldoc
