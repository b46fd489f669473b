#include "base/utf8.h"

#include <gtest/gtest.h>

namespace brevick {
namespace {

TEST(Utf8Test, DecodesWellFormedTextOfEveryLength) {
  EXPECT_EQ(L"abc", ToWide("abc"));
  EXPECT_EQ(std::wstring(L"\u00E9\u0141\u20AC\U0001F600"),
            ToWide("\xC3\xA9\xC5\x81\xE2\x82\xAC\xF0\x9F\x98\x80"));
  EXPECT_EQ(std::wstring(L"\U0010FFFF"), ToWide("\xF4\x8F\xBF\xBF"));
}

TEST(Utf8Test, AbsentEmptyAndNulStopGiveTheTextBeforeTheNul) {
  EXPECT_EQ(L"", ToWide(static_cast<const char*>(nullptr)));
  EXPECT_EQ(L"", ToWide(""));
  EXPECT_EQ(L"ab", ToWide(std::string_view("ab\0cd", 5)));
  EXPECT_EQ("", ToUtf8(static_cast<const wchar_t*>(nullptr)));
  EXPECT_EQ("ab", ToUtf8(std::wstring_view(L"ab\0cd", 5)));
}

TEST(Utf8Test, EachIllFormedSequenceBecomesOneReplacementCharacter) {
  const struct {
    std::string_view in;
    std::wstring out;
  } cases[] = {
      {"\x80", L"\uFFFD"},                                // stray continuation byte
      {"a\xC3", L"a\uFFFD"},                              // truncated at the end
      {"\xC3(", L"\uFFFD("},                              // truncated before ASCII, which survives
      {"\xC0\x80", L"\uFFFD\uFFFD"},                      // overlong NUL
      {"\xE0\x80\x80", L"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte form
      {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
      {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
      {"\xE2\x82", L"\uFFFD"},                            // one truncated sequence, one replacement
      {"\xFF\xFE", L"\uFFFD\uFFFD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.in)));
    EXPECT_EQ(c.out, ToWide(c.in));
  }
}

TEST(Utf8Test, EncodesInvalidWideValuesAsReplacementCharacter) {
  const std::wstring wide = {L'a', static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000),
                             L'\u0141'};
  EXPECT_EQ("a\xEF\xBF\xBD\xEF\xBF\xBD\xC5\x81", ToUtf8(wide));
}

TEST(Utf8Test, RoundTripsEveryScalarValueSample) {
  for (char32_t cp :
       {0x01u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xD7FFu, 0xE000u, 0xFFFDu, 0x10000u, 0x10FFFFu}) {
    const std::wstring wide(1, static_cast<wchar_t>(cp));
    EXPECT_EQ(wide, ToWide(ToUtf8(wide))) << std::hex << static_cast<unsigned>(cp);
  }
}

}  // namespace
}  // namespace brevick
