// xml/utf8.h: the one UTF-8 decoder and encoder of the whole program. It
// lives at the bottom, in the XML library, because the parser must hold
// documents to the same rules that the console and the reports apply to text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace xmldoc {

// One character read from the front of some bytes.
struct Utf8Char {
  char32_t codePoint = U'\uFFFD';  // U+FFFD when the bytes are ill-formed
  // Bytes taken: the whole sequence, or the maximal ill-formed subpart (the
  // longest start of a sequence that could still have become well-formed,
  // or one byte), so that a truncated sequence never swallows what follows.
  // 0 only for empty input.
  std::size_t length = 0;
  bool wellFormed = false;
};

// Decodes the character at the start of `bytes`. Ill-formed: a stray
// continuation byte, C0, C1 or F5 to FF as a first byte, an overlong form, a
// surrogate, anything beyond U+10FFFF, a truncated sequence.
Utf8Char DecodeUtf8(std::string_view bytes);

// Appends the UTF-8 form of a code point; anything that is not a Unicode
// scalar value (a surrogate, or beyond U+10FFFF) is written as U+FFFD.
void AppendUtf8(std::string& out, char32_t codePoint);

}  // namespace xmldoc
