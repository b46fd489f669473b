// xml/utf8.cc: the UTF-8 codec shared by the parser and the tool's text.
#include "xml/utf8.h"

namespace xmldoc {
namespace {

// How a first byte opens a sequence: its length and the range its second
// byte must fall in, which is where overlong forms, surrogates and values
// beyond U+10FFFF are told apart; later bytes are plain continuation bytes.
struct LeadByte {
  std::size_t length;
  unsigned char low, high;
};

constexpr LeadByte DescribeLead(unsigned char lead) {
  if (lead < 0xC2) return {0, 0, 0};  // ASCII is handled before; the rest never leads
  if (lead <= 0xDF) return {2, 0x80, 0xBF};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};
  if (lead == 0xED) return {3, 0x80, 0x9F};
  if (lead <= 0xEF) return {3, 0x80, 0xBF};
  if (lead == 0xF0) return {4, 0x90, 0xBF};
  if (lead <= 0xF3) return {4, 0x80, 0xBF};
  if (lead == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

}  // namespace

Utf8Char DecodeUtf8(std::string_view bytes) {
  if (bytes.empty()) return {};
  const auto lead = static_cast<unsigned char>(bytes[0]);
  if (lead < 0x80) return {lead, 1, true};
  const LeadByte form = DescribeLead(lead);
  if (form.length == 0) return {U'\uFFFD', 1, false};
  char32_t codePoint = lead & (0x7F >> form.length);
  for (std::size_t i = 1; i < form.length; ++i) {
    const auto byte = i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0;
    const unsigned char low = i == 1 ? form.low : 0x80;
    const unsigned char high = i == 1 ? form.high : 0xBF;
    if (byte < low || byte > high) return {U'\uFFFD', i, false};
    codePoint = (codePoint << 6) | (byte & 0x3F);
  }
  return {codePoint, form.length, true};
}

void AppendUtf8(std::string& out, char32_t codePoint) {
  const bool scalarValue = codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
  if (!scalarValue) codePoint = U'\uFFFD';
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

}  // namespace xmldoc
