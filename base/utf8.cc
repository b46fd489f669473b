// base/utf8.cc: the project's own UTF-8 codec, so that every stage converts alike.
#include "base/utf8.h"

#include <cstdint>
#include <cstring>
#include <cwchar>

namespace brevick {
namespace {

// A byte b of an argument that is not UTF-8 stands as the lone surrogate
// kFirstEscapedByte + b (b is 0x80 or above).
constexpr std::uint32_t kFirstEscapedByte = 0xDC00;

std::string_view UpToNul(std::string_view text) {
  const std::size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

}  // namespace

std::wstring ToWide(const char* utf8) {
  return utf8 == nullptr ? std::wstring() : ToWide(std::string_view(utf8, std::strlen(utf8)));
}

std::wstring ToWide(std::string_view utf8) {
  std::string_view text = UpToNul(utf8);
  std::wstring wide;
  wide.reserve(text.size());
  while (!text.empty()) {
    const Utf8Char decoded = DecodeUtf8(text);
    wide.push_back(static_cast<wchar_t>(decoded.codePoint));
    text.remove_prefix(decoded.length);
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
  std::wstring wide;
  wide.reserve(bytes.size());
  while (!bytes.empty()) {
    const Utf8Char decoded = DecodeUtf8(bytes);
    if (decoded.wellFormed) {
      wide.push_back(static_cast<wchar_t>(decoded.codePoint));
    } else {
      // Every byte kept, so that the path opens the file it named.
      for (const char byte : bytes.substr(0, decoded.length)) {
        wide.push_back(static_cast<wchar_t>(kFirstEscapedByte | static_cast<unsigned char>(byte)));
      }
    }
    bytes.remove_prefix(decoded.length);
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

bool IsHiddenCharacter(char32_t codePoint) {
  if (codePoint < 0x20) return codePoint != '\t';
  return codePoint == 0x7F || (codePoint >= 0x80 && codePoint <= 0x9F) || codePoint == 0x061C ||
         codePoint == 0x200E || codePoint == 0x200F || codePoint == 0x2028 || codePoint == 0x2029 ||
         (codePoint >= 0x202A && codePoint <= 0x202E) ||
         (codePoint >= 0x2066 && codePoint <= 0x2069);
}

}  // namespace brevick
