// base/utf8.h: the one conversion between the XML library's 8-bit UTF-8 text and
// the wide text of paths, console lines and messages.
#pragma once

#include <string>
#include <string_view>

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

}  // namespace brevick
