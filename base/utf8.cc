// base/utf8.cc: the project's own UTF-8 codec, so that every stage converts alike.
#include "base/utf8.h"

#include <cstdint>
#include <cstring>
#include <cwchar>

#include "xml/reference.h"

namespace brevick {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
// A byte b of an argument that is not UTF-8 stands as the lone surrogate
// kFirstEscapedByte + b (b is 0x80 or above).
constexpr std::uint32_t kFirstEscapedByte = 0xDC00;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes one sequence at text[pos]. Returns the code point, or kReplacement
// for an ill-formed one; `pos` moves past the maximal ill-formed subpart, so a
// truncated sequence followed by a good character loses only the bad bytes.
char32_t DecodeOne(std::string_view text, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(text[pos++]);
  if (lead < 0x80) return lead;
  int length = 0;
  char32_t value = 0;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
  } else {
    return kReplacement;
  }
  for (int i = 1; i < length; ++i) {
    if (pos >= text.size()) return kReplacement;
    const auto byte = static_cast<unsigned char>(text[pos]);
    const bool inRange = i == 1 ? (byte >= low && byte <= high) : IsContinuation(byte);
    if (!inRange) return kReplacement;
    value = (value << 6) | (byte & 0x3F);
    ++pos;
  }
  return value;
}

std::string_view UpToNul(std::string_view text) {
  const std::size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

}  // namespace

std::wstring ToWide(const char* utf8) {
  return utf8 == nullptr ? std::wstring() : ToWide(std::string_view(utf8, std::strlen(utf8)));
}

std::wstring ToWide(std::string_view utf8) {
  const std::string_view text = UpToNul(utf8);
  std::wstring wide;
  wide.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (byte < 0x80) {  // the common case, kept out of the decoder
      wide.push_back(static_cast<wchar_t>(byte));
      ++pos;
      continue;
    }
    wide.push_back(static_cast<wchar_t>(DecodeOne(text, pos)));
  }
  return wide;
}

std::string ToUtf8(const wchar_t* wide) {
  return wide == nullptr ? std::string() : ToUtf8(std::wstring_view(wide, std::wcslen(wide)));
}

std::string ToUtf8(std::wstring_view wide) {
  const std::size_t nul = wide.find(L'\0');
  if (nul != std::wstring_view::npos) wide = wide.substr(0, nul);
  std::string out;
  out.reserve(wide.size());
  for (const wchar_t ch : wide) {
    // wchar_t may be signed: go through an unsigned 32-bit value first.
    xmldoc::AppendUtf8(out, static_cast<char32_t>(static_cast<std::uint32_t>(ch)));
  }
  return out;
}

std::wstring ArgumentToWide(std::string_view bytes) {
  constexpr std::string_view kEncodedReplacement = "\xEF\xBF\xBD";
  std::wstring wide;
  wide.reserve(bytes.size());
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::size_t start = pos;
    const char32_t value = DecodeOne(bytes, pos);
    if (value == kReplacement && bytes.substr(start, 3) != kEncodedReplacement) {
      pos = start + 1;  // one byte at a time, so that every byte comes back
      wide.push_back(
          static_cast<wchar_t>(kFirstEscapedByte | static_cast<unsigned char>(bytes[start])));
    } else {
      wide.push_back(static_cast<wchar_t>(value));
    }
  }
  return wide;
}

std::string ToPathBytes(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (const wchar_t ch : wide) {
    // wchar_t may be signed: go through an unsigned 32-bit value first.
    const char32_t value = static_cast<char32_t>(static_cast<std::uint32_t>(ch));
    if (value >= kFirstEscapedByte + 0x80 && value <= kFirstEscapedByte + 0xFF) {
      out.push_back(static_cast<char>(static_cast<unsigned char>(value - kFirstEscapedByte)));
    } else {
      xmldoc::AppendUtf8(out, value);
    }
  }
  return out;
}

char32_t DecodeFirst(std::string_view text, std::size_t& length) {
  length = 0;
  if (text.empty()) return kReplacement;
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) {
    length = 1;
    return lead;
  }
  length = xmldoc::WellFormedUtf8Length(text);
  if (length == 0) return kReplacement;
  char32_t codePoint = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
  }
  return codePoint;
}

bool IsHiddenCharacter(char32_t codePoint) {
  if (codePoint < 0x20) return codePoint != '\t';
  return codePoint == 0x7F || (codePoint >= 0x80 && codePoint <= 0x9F) || codePoint == 0x061C ||
         codePoint == 0x200E || codePoint == 0x200F || codePoint == 0x2028 || codePoint == 0x2029 ||
         (codePoint >= 0x202A && codePoint <= 0x202E) ||
         (codePoint >= 0x2066 && codePoint <= 0x2069);
}

}  // namespace brevick
