// xml/exception.h: the library's exceptions. They do not derive from
// std::exception: the tool catches them by their own types, and catching
// xmldoc::Exception catches every kind.
#pragma once

#include <string>

namespace xmldoc {

// ParsingException codes. Each selects one fixed message (ErrorText).
inline constexpr int kNoError = 0;  // never raised
inline constexpr int kUnexpectedEndOfDocument = 1;
inline constexpr int kIllegalCharacter = 2;
inline constexpr int kNoEqualSign = 3;
inline constexpr int kInvalidAttributeValue = 4;
inline constexpr int kUnexpectedTag = 5;
inline constexpr int kInvalidReference = 6;
inline constexpr int kInvalidHexNumber = 7;
inline constexpr int kInvalidDecimalNumber = 8;
inline constexpr int kUnknownEntityReference = 9;
inline constexpr int kInvalidTagName = 10;
inline constexpr int kInvalidEmptyTag = 11;
inline constexpr int kInvalidEndTag = 12;
inline constexpr int kEndTagMismatch = 13;
inline constexpr int kInvalidMarkup = 14;
inline constexpr int kCDataEndInText = 15;
inline constexpr int kNoRootElement = 16;
inline constexpr int kInvalidXmlDeclarationVersion = 17;
inline constexpr int kInvalidXmlDeclarationEnd = 18;
inline constexpr int kInvalidEncodingDeclaration = 19;
inline constexpr int kInvalidEncodingName = 20;
inline constexpr int kInvalidStandaloneDeclaration = 21;
inline constexpr int kInvalidStandaloneValue = 22;
inline constexpr int kDoubleHyphenInComment = 23;
inline constexpr int kInvalidPiTarget = 24;
inline constexpr int kReservedPiTarget = 25;
inline constexpr int kInvalidDoctype = 26;
inline constexpr int kInvalidParameterEntity = 27;
inline constexpr int kInvalidPublicLiteralChar = 28;
inline constexpr int kInvalidElementDeclaration = 29;
inline constexpr int kBarExpected = 30;
inline constexpr int kCommaExpected = 31;
inline constexpr int kInvalidContentParticle = 32;
inline constexpr int kInvalidAttlistDeclaration = 33;
inline constexpr int kInvalidAttributeDefinition = 34;
inline constexpr int kInvalidNotationType = 35;
inline constexpr int kInvalidEnumeration = 36;
inline constexpr int kInvalidFixedDeclaration = 37;
inline constexpr int kInvalidEntityDeclaration = 38;
inline constexpr int kInvalidNdataDeclaration = 39;
inline constexpr int kInvalidNotationDeclaration = 40;
inline constexpr int kInvalidSystemLiteral = 41;
inline constexpr int kInvalidPublicLiteral = 42;
inline constexpr int kDataAfterRoot = 43;
inline constexpr int kElementsNestedTooDeeply = 44;
inline constexpr int kErrorCodeCount = 45;

// The fixed message of a code; static text, never freed. A code outside the
// table gives "Unknown error" rather than reading past it.
const char* ErrorText(int code);

class Exception {
 public:
  virtual ~Exception();
};

// Raised by the parser at the first malformation. Thrown by value; the text
// carries no position: line and column are for the holder to add.
class ParsingException : public Exception {
 public:
  ParsingException(int code, int line, int column)
      : errorCode(code), line(line), column(column) {}
  ~ParsingException() override;

  // The fixed message for errorCode, e.g. "Unlegal character".
  const char* GetErrorText() const { return ErrorText(errorCode); }

  int errorCode;
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
