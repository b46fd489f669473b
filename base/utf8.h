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

}  // namespace brevick
