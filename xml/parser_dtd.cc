// xml/parser_dtd.cc: the document type declaration and its internal subset.
// Every declaration is read for its syntax only and dropped: no entity
// becomes known, no default applies, nothing is validated against it. So a
// document parses to the same tree with or without its DOCTYPE.
#include "xml/element.h"
#include "xml/exception.h"
#include "xml/parser.h"
#include "xml/reference.h"

namespace xmldoc {

namespace {

bool IsLetterOrDigit(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The public-identifier characters. Tab is not among them.
bool IsPubidChar(unsigned char c) {
  if (IsLetterOrDigit(c) || c == ' ' || c == '\r' || c == '\n') return true;
  for (const char allowed : std::string_view("-'()+,./:=?;!*#@$_%")) {
    if (c == static_cast<unsigned char>(allowed)) return true;
  }
  return false;
}

bool IsSystemLiteralChar(unsigned char c) {
  return c >= 0x20 || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

bool Parser::ReadDoctype() {
  if (!MatchString("<!DOCTYPE")) return false;
  if (!SkipSpaces() || ReadNameView().empty()) Error(ParseError::kInvalidDoctype);
  SkipSpaces();
  if (ReadExternalId()) SkipSpaces();
  if (MatchChar('[')) {
    if (!MatchChar(']')) {
      do {
        // Comments and PIs are not taken here: they fall through to the error.
        if (!SkipSpaces() && !ReadMarkupDeclaration() && !ReadPeReference()) {
          Error(ParseError::kInvalidDoctype);
        }
      } while (!MatchChar(']'));
    }
    SkipSpaces();
  }
  if (!MatchChar('>')) Error(ParseError::kInvalidDoctype);
  return true;
}

bool Parser::ReadMarkupDeclaration() {
  return ReadElementDeclaration() || ReadAttlistDeclaration() || ReadEntityDeclaration() ||
         ReadNotationDeclaration();
}

// ---------------------------------------------------------------- ELEMENT

bool Parser::ReadElementDeclaration() {
  if (!MatchString("<!ELEMENT")) return false;
  if (!SkipSpaces() || ReadNameView().empty() || !SkipSpaces() || !ReadContentSpec()) {
    Error(ParseError::kInvalidElementDeclaration);
  }
  SkipSpaces();
  if (!MatchChar('>')) Error(ParseError::kInvalidElementDeclaration);
  return true;
}

bool Parser::ReadContentSpec() {
  return MatchString("EMPTY") || MatchString("ANY") || ReadMixed() || ReadChildren();
}

bool Parser::ReadMixed() {
  const TextMark saved = Mark();
  if (!MatchChar('(')) return false;
  SkipSpaces();
  if (!MatchString("#PCDATA")) {
    Restore(saved);
    return false;
  }
  SkipSpaces();
  if (MatchString(")*") || MatchChar(')')) return true;
  if (!MatchChar('|')) Error(ParseError::kBarExpected);
  for (;;) {
    SkipSpaces();
    // An empty alternative ("(#PCDATA||a)*") names no element type: refused
    // like any list that lacks a particle after its separator.
    if (ReadNameView().empty()) Error(ParseError::kInvalidContentParticle);
    SkipSpaces();
    if (MatchString(")*")) return true;
    if (!MatchChar('|')) Error(ParseError::kBarExpected);
  }
}

bool Parser::ReadChildren() {
  if (!ReadParticleList(1)) return false;
  if (!MatchChar('?') && !MatchChar('*')) MatchChar('+');
  return true;
}

bool Parser::ReadContentParticle(int depth) {
  if (ReadNameView().empty() && !ReadParticleList(depth + 1)) return false;
  if (!MatchChar('?') && !MatchChar('*')) MatchChar('+');
  return true;
}

bool Parser::ReadParticleList(int depth) {
  if (!MatchChar('(')) return false;
  // Nested lists recurse; a hostile model must not exhaust the stack.
  if (depth > kMaxParticleDepth) Error(ParseError::kInvalidContentParticle);
  SkipSpaces();
  if (!ReadContentParticle(depth)) Error(ParseError::kInvalidContentParticle);
  SkipSpaces();
  const char separator = GetChar();
  if (separator == ')') return true;
  if (separator == 0) Error(ParseError::kUnexpectedEndOfDocument);
  if (separator != '|' && separator != ',') Error(ParseError::kCommaExpected);
  for (;;) {
    SkipSpaces();
    if (!ReadContentParticle(depth)) Error(ParseError::kInvalidContentParticle);
    SkipSpaces();
    const char next = GetChar();
    if (next == ')') return true;
    if (next == 0) Error(ParseError::kUnexpectedEndOfDocument);
    if (next != separator) {
      Error(separator == '|' ? ParseError::kBarExpected : ParseError::kCommaExpected);
    }
  }
}

// ---------------------------------------------------------------- ATTLIST

bool Parser::ReadAttlistDeclaration() {
  if (!MatchString("<!ATTLIST")) return false;
  if (!SkipSpaces() || ReadNameView().empty()) Error(ParseError::kInvalidAttlistDeclaration);
  while (ReadAttributeDefinition()) {
  }
  SkipSpaces();
  if (!MatchChar('>')) Error(ParseError::kInvalidAttlistDeclaration);
  return true;
}

bool Parser::ReadAttributeDefinition() {
  const TextMark saved = Mark();
  if (!SkipSpaces() || ReadNameView().empty()) {
    Restore(saved);
    return false;
  }
  if (!SkipSpaces() || !ReadAttributeType() || !SkipSpaces() || !ReadDefaultDeclaration()) {
    Error(ParseError::kInvalidAttributeDefinition);
  }
  return true;
}

bool Parser::ReadAttributeType() {
  // Longer keywords first: "IDREFS" must not be read as "ID" and "REFS".
  for (const std::string_view keyword :
       {"CDATA", "IDREFS", "IDREF", "ID", "ENTITIES", "ENTITY", "NMTOKENS", "NMTOKEN"}) {
    if (MatchString(keyword)) return true;
  }
  return ReadNotationType() || ReadEnumeration();
}

bool Parser::ReadNotationType() {
  if (!MatchString("NOTATION")) return false;
  if (!SkipSpaces() || !MatchChar('(')) Error(ParseError::kInvalidNotationType);
  do {
    SkipSpaces();
    if (ReadNameView().empty()) Error(ParseError::kInvalidNotationType);
    SkipSpaces();
  } while (MatchChar('|'));
  if (!MatchChar(')')) Error(ParseError::kInvalidNotationType);
  return true;
}

bool Parser::ReadEnumeration() {
  if (!MatchChar('(')) return false;
  std::string token;
  do {
    SkipSpaces();
    if (!ReadNmtoken(token)) Error(ParseError::kInvalidEnumeration);
    SkipSpaces();
  } while (MatchChar('|'));
  if (!MatchChar(')')) Error(ParseError::kInvalidEnumeration);
  return true;
}

bool Parser::ReadDefaultDeclaration() {
  if (MatchString("#REQUIRED") || MatchString("#IMPLIED")) return true;
  if (MatchString("#FIXED") && !SkipSpaces()) Error(ParseError::kInvalidFixedDeclaration);
  // The default is checked as an attribute value would be, into a scratch
  // attribute that is dropped. Like the value rule it takes an empty run of
  // digits, so a missing default after the blank is accepted.
  Attribute scratch(nullptr, std::string());
  ReadAttributeValue(scratch);
  return true;
}

// ---------------------------------------------------------------- ENTITY

bool Parser::ReadEntityDeclaration() {
  if (!MatchString("<!ENTITY")) return false;
  if (!SkipSpaces()) Error(ParseError::kInvalidEntityDeclaration);
  if (MatchChar('%')) {
    if (!SkipSpaces() || ReadNameView().empty() || !SkipSpaces() ||
        (!ReadEntityValue() && !ReadExternalId())) {
      Error(ParseError::kInvalidEntityDeclaration);
    }
  } else {
    if (ReadNameView().empty() || !SkipSpaces()) Error(ParseError::kInvalidEntityDeclaration);
    if (!ReadEntityValue()) {
      if (!ReadExternalId()) Error(ParseError::kInvalidEntityDeclaration);
      ReadNData();
    }
  }
  SkipSpaces();
  if (!MatchChar('>')) Error(ParseError::kInvalidEntityDeclaration);
  return true;
}

bool Parser::ReadNData() {
  const TextMark saved = Mark();
  if (!SkipSpaces()) return false;
  if (!MatchString("NDATA")) {
    Restore(saved);
    return false;
  }
  if (!SkipSpaces() || ReadNameView().empty()) Error(ParseError::kInvalidNdataDeclaration);
  return true;
}

bool Parser::ReadEntityValue() {
  const char quote = GetChar();
  if (quote != '"' && quote != '\'') {
    UngetChar();
    return false;
  }
  for (;;) {
    const char c = GetChar();
    if (c == quote) return true;
    switch (c) {
      case '\0':
        Error(ParseError::kUnexpectedEndOfDocument);
      case '%':
        UngetChar();
        ReadPeReference();
        break;
      case '&': {
        UngetChar();
        // Checked as in content, entity names included, then dropped.
        if (!ReadReference(NullElement())) Error(ParseError::kInvalidReference);
        break;
      }
      default:
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') {
          Error(ParseError::kIllegalCharacter);
        }
        TakeRestOfSequence(c);
    }
  }
}

bool Parser::ReadPeReference() {
  if (!MatchChar('%')) return false;
  if (ReadNameView().empty() || !MatchChar(';')) Error(ParseError::kInvalidParameterEntity);
  return true;
}

// ---------------------------------------------------------------- identifiers

bool Parser::ReadExternalId() {
  if (MatchString("SYSTEM")) {
    if (!SkipSpaces() || !ReadSystemLiteral()) Error(ParseError::kInvalidSystemLiteral);
    return true;
  }
  if (MatchString("PUBLIC")) {
    if (!SkipSpaces() || !ReadPubidLiteral() || !SkipSpaces() || !ReadSystemLiteral()) {
      Error(ParseError::kInvalidSystemLiteral);
    }
    return true;
  }
  return false;
}

bool Parser::ReadNotationDeclaration() {
  if (!MatchString("<!NOTATION")) return false;
  if (!SkipSpaces() || ReadNameView().empty() || !SkipSpaces()) {
    Error(ParseError::kInvalidNotationDeclaration);
  }
  if (MatchString("SYSTEM")) {
    if (!SkipSpaces() || !ReadSystemLiteral()) Error(ParseError::kInvalidSystemLiteral);
  } else if (MatchString("PUBLIC")) {
    if (!SkipSpaces() || !ReadPubidLiteral()) Error(ParseError::kInvalidPublicLiteral);
    // A notation may stop at its public identifier.
    if (SkipSpaces()) ReadSystemLiteral();
  } else {
    Error(ParseError::kInvalidNotationDeclaration);
  }
  SkipSpaces();
  if (!MatchChar('>')) Error(ParseError::kInvalidNotationDeclaration);
  return true;
}

bool Parser::ReadSystemLiteral() {
  const char quote = GetChar();
  if (quote != '"' && quote != '\'') {
    UngetChar();
    return false;
  }
  ReadLiteralBody(quote, IsSystemLiteralChar, ParseError::kIllegalCharacter);
  return true;
}

bool Parser::ReadPubidLiteral() {
  const char quote = GetChar();
  if (quote != '"' && quote != '\'') {
    UngetChar();
    return false;
  }
  ReadLiteralBody(quote, IsPubidChar, ParseError::kInvalidPublicLiteralChar);
  return true;
}

void Parser::ReadLiteralBody(char quote, bool (*legal)(unsigned char), ParseError badByteCode) {
  for (;;) {
    const char c = GetChar();
    if (c == quote) return;
    if (c == 0) Error(ParseError::kUnexpectedEndOfDocument);
    // The sequence is checked before the byte's place in the literal: an
    // ill-formed one is an encoding fault wherever it stands.
    const std::size_t length =
        checkUtf8 && static_cast<unsigned char>(c) >= 0x80 ? Utf8Length(current - 1) : 1;
    if (!legal(static_cast<unsigned char>(c))) Error(badByteCode);
    current += length - 1;
  }
}

}  // namespace xmldoc
