// base/utf8.h: the one conversion between the XML library's 8-bit UTF-8 text and
// the wide text of paths, console lines and messages.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "xml/utf8.h"

namespace brevick {

// Decodes UTF-8 up to the first NUL byte. Each ill-formed sequence (stray
// continuation byte, truncated or overlong form, surrogate, beyond U+10FFFF)
// becomes one U+FFFD. A null pointer gives the empty text.
std::wstring ToWide(const char* utf8);
std::wstring ToWide(std::string_view utf8);

// Encodes wide text up to the first NUL character. A value that is no Unicode
// scalar value (a surrogate, or beyond U+10FFFF) is written as U+FFFD.
std::string ToUtf8(const wchar_t* wide);
std::string ToUtf8(std::wstring_view wide);

// Command-line arguments are bytes that need not be UTF-8, and a path must
// open the file of exactly those bytes. Each byte of an ill-formed sequence
// becomes a lone surrogate U+DC80 to U+DCFF, which ToUtf8 shows as U+FFFD on
// the console and ToPathBytes turns back into the byte; everything else
// converts as ToWide and ToUtf8 do.
std::wstring ArgumentToWide(std::string_view bytes);
std::string ToPathBytes(std::wstring_view wide);

// The first character of `text` by the program's one decoder (each
// ill-formed sequence, as far as it could still have become well-formed, is
// one U+FFFD), which the XML library owns and the console and reports share.
using xmldoc::DecodeUtf8;
using xmldoc::Utf8Char;

// Characters that change how the text around them reads, and so must never
// reach a terminal or a report raw: C0 controls other than tab (CR and LF
// included), DEL, C1 controls, the bidirectional marks, embeddings,
// overrides and isolates (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066
// to U+2069) and the line and paragraph separators U+2028 and U+2029.
bool IsHiddenCharacter(char32_t codePoint);

}  // namespace brevick
