// xml/exception.h: the library's exceptions. They do not derive from
// std::exception: the tool catches them by their own types, and catching
// xmldoc::Exception catches every kind.
#pragma once

#include <string>

namespace xmldoc {

// The parse error codes, each selecting one fixed message (ErrorText). The
// numbers run from 0 without gaps, which the message table in exception.cc
// relies on: a new code goes at the end, before kCount, with its message
// added there. The number of a code is static_cast<int>(code).
enum class ParseError : int {
  kNoError = 0,  // never raised
  kUnexpectedEndOfDocument = 1,
  kIllegalCharacter = 2,
  kNoEqualSign = 3,
  kInvalidAttributeValue = 4,
  kUnexpectedTag = 5,
  kInvalidReference = 6,
  kInvalidHexNumber = 7,
  kInvalidDecimalNumber = 8,
  kUnknownEntityReference = 9,
  kInvalidTagName = 10,
  kInvalidEmptyTag = 11,
  kInvalidEndTag = 12,
  kEndTagMismatch = 13,
  kInvalidMarkup = 14,
  kCDataEndInText = 15,
  kNoRootElement = 16,
  kInvalidXmlDeclarationVersion = 17,
  kInvalidXmlDeclarationEnd = 18,
  kInvalidEncodingDeclaration = 19,
  kInvalidEncodingName = 20,
  kInvalidStandaloneDeclaration = 21,
  kInvalidStandaloneValue = 22,
  kDoubleHyphenInComment = 23,
  kInvalidPiTarget = 24,
  kReservedPiTarget = 25,
  kInvalidDoctype = 26,
  kInvalidParameterEntity = 27,
  kInvalidPublicLiteralChar = 28,
  kInvalidElementDeclaration = 29,
  kBarExpected = 30,
  kCommaExpected = 31,
  kInvalidContentParticle = 32,
  kInvalidAttlistDeclaration = 33,
  kInvalidAttributeDefinition = 34,
  kInvalidNotationType = 35,
  kInvalidEnumeration = 36,
  kInvalidFixedDeclaration = 37,
  kInvalidEntityDeclaration = 38,
  kInvalidNdataDeclaration = 39,
  kInvalidNotationDeclaration = 40,
  kInvalidSystemLiteral = 41,
  kInvalidPublicLiteral = 42,
  kDataAfterRoot = 43,
  kElementsNestedTooDeeply = 44,
  kDuplicateAttribute = 45,
  kInvalidUtf8 = 46,
  kCount  // not a code: how many there are
};

// The fixed message of a code; static text, never freed. A value outside the
// codes (cast in from a number) gives "Unknown error" rather than reading
// past the table.
const char* ErrorText(ParseError code);

class Exception {
 public:
  virtual ~Exception();
};

// Raised by the parser at the first malformation. Thrown by value; the text
// carries no position: line and column are for the holder to add.
class ParsingException : public Exception {
 public:
  ParsingException(ParseError code, int atLine, int atColumn)
      : errorCode(code), line(atLine), column(atColumn) {}
  ~ParsingException() override;

  // The fixed message for errorCode, e.g. "Unlegal character".
  const char* GetErrorText() const { return ErrorText(errorCode); }

  ParseError errorCode;
  // The reader's position when the error was raised: lines from 1.
  int line;
  int column;
};

// Raised when an entity reference is built, through the throwing
// constructor (as Clone does), for a name that is no predefined entity.
class InvalidRefException : public Exception {
 public:
  explicit InvalidRefException(std::string name) : entityName(std::move(name)) {}
  ~InvalidRefException() override;

  std::string entityName;
};

}  // namespace xmldoc
