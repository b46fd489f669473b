// The JSON string escaper on the text a report can carry: names from
// certificates, paths from manifests and from disk, any bytes at all.
#include "verify/json_report.h"

#include <gtest/gtest.h>

namespace brevick {
namespace {

TEST(JsonStringTest, EscapesWhatJsonAndTheConsoleCannotTakeLiterally) {
  // clang-format off
  const struct { const char* name; std::string text, json; } cases[] = {
      {"plain", "CN=Signer", "\"CN=Signer\""},
      {"quote and backslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
      {"line ends and tab", "a\nb\rc\td", "\"a\\nb\\rc\\td\""},
      {"other C0 and DEL", std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\""},
      {"NUL inside", std::string("a\0b", 3), "\"a\\u0000b\""},
      {"UTF-8 kept", "\xC5\x81odz \xF0\x9F\x98\x80", "\"\xC5\x81odz \xF0\x9F\x98\x80\""},
      {"bidirectional isolates (every hidden character, as the console filter hides them)", "\xE2\x81\xA5\xE2\x81\xA6\xE2\x81\xA9\xE2\x81\xAA", "\"\xE2\x81\xA5\\u2066\\u2069\xE2\x81\xAA\""},
      {"stray continuation byte", "a\x80z", "\"a\\ufffdz\""},
      {"Latin-1 byte", "caf\xE9", "\"caf\\ufffd\""},
      {"overlong slash", "\xC0\xAF", "\"\\ufffd\\ufffd\""},
  };
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    EXPECT_EQ(test.json, JsonString(test.text));
  }
}

}  // namespace
}  // namespace brevick
