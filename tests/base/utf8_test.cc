// tests/base/utf8_test.cc: the one conversion between UTF-8 and wide text.
#include "base/utf8.h"

#include <gtest/gtest.h>

namespace brevick {
namespace {

TEST(Utf8Test, DecodesEachIllFormedSequenceAsOneReplacementCharacter) {
  // clang-format off
  const struct { std::string_view in; std::wstring out; } cases[] = {
      {"abc", L"abc"},
      {"\xC3\xA9\xC5\x81\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", L"\u00E9\u0141\u20AC\U0001F600\U0010FFFF"},
      {"", L""},
      {std::string_view("ab\0cd", 5), L"ab"},  // up to the first NUL
      {"\x80", L"\uFFFD"},  // stray continuation byte
      {"a\xC3", L"a\uFFFD"},  // truncated at the end
      {"\xC3(", L"\uFFFD("},  // truncated before ASCII, which survives
      {"\xC0\x80", L"\uFFFD\uFFFD"},  // overlong NUL
      {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"\xE2\x82", L"\uFFFD"},  // one truncated sequence, one replacement
      {"\xF0\x9F\x98z\xF0\x9F", L"\uFFFDz\uFFFD"},  // and what follows it survives
  };
  // clang-format on
  for (const auto& c : cases)
    EXPECT_EQ(c.out, ToWide(c.in)) << ::testing::PrintToString(std::string(c.in));
  EXPECT_EQ(L"", ToWide(static_cast<const char*>(nullptr)));
  EXPECT_EQ("", ToUtf8(static_cast<const wchar_t*>(nullptr)));
}

TEST(Utf8Test, EncodesScalarValuesAndReplacesEveryOtherWideValue) {
  // clang-format off
  const struct { wchar_t in; std::string_view out; } cases[] = {
      {L'\x01', "\x01"}, {L'\x7F', "\x7F"}, {L'\x80', "\xC2\x80"}, {L'\x7FF', "\xDF\xBF"}, {L'\x800', "\xE0\xA0\x80"},
      {L'\xD7FF', "\xED\x9F\xBF"}, {L'\xE000', "\xEE\x80\x80"}, {L'\xFFFD', "\xEF\xBF\xBD"},
      {L'\U00010000', "\xF0\x90\x80\x80"}, {L'\U0010FFFF', "\xF4\x8F\xBF\xBF"},
      {static_cast<wchar_t>(0xD800), "\xEF\xBF\xBD"}, {static_cast<wchar_t>(0xDBFF), "\xEF\xBF\xBD"},
      {static_cast<wchar_t>(0xDC00), "\xEF\xBF\xBD"}, {static_cast<wchar_t>(0xDFFF), "\xEF\xBF\xBD"},
      {static_cast<wchar_t>(0x110000), "\xEF\xBF\xBD"}, {static_cast<wchar_t>(-1), "\xEF\xBF\xBD"},
  };
  // clang-format on
  for (const auto& c : cases) {
    const std::wstring wide(1, c.in);
    EXPECT_EQ(c.out, ToUtf8(wide)) << std::hex << static_cast<unsigned>(c.in);
    if (c.out != "\xEF\xBF\xBD" || c.in == L'\xFFFD') {
      EXPECT_EQ(wide, ToWide(ToUtf8(wide)));
    }
  }
  EXPECT_EQ("ab", ToUtf8(std::wstring_view(L"ab\0cd", 5)));
}

// Arguments open by their own bytes; only their display is converted.
TEST(Utf8Test, ArgumentBytesComeBackAsGivenAndShowAsReplacementCharacters) {
  // clang-format off
  const struct { std::string_view bytes, shown; } cases[] = {
      {"plain.xml", "plain.xml"}, {"\xC5\x81odz", "\xC5\x81odz"}, {"\xEF\xBF\xBD", "\xEF\xBF\xBD"},
      {"out\xFF.p7", "out\xEF\xBF\xBD.p7"}, {"\xC3", "\xEF\xBF\xBD"}, {"\xE2\x82", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}, {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.bytes)));
    const std::wstring wide = ArgumentToWide(c.bytes);
    EXPECT_EQ(c.bytes, ToPathBytes(wide));
    EXPECT_EQ(c.shown, ToUtf8(wide));
  }
}

}  // namespace
}  // namespace brevick
