// tests/base/report_test.cc: the console lines, the error list and the filter
// every line passes on its way to a terminal.
#include "base/report.h"

#include <gtest/gtest.h>

namespace brevick {
namespace {

class ReportTest : public ::testing::Test {
 protected:
  ConsoleCapture console;
};

// What each verbosity shows as it happens; the error list keeps every
// recorded text, empty and repeated ones included, for the summary.
TEST_F(ReportTest, VerbosityChoosesTheLinesAndTheListKeepsEveryError) {
  // clang-format off
  const struct { Verbosity verbosity; const char* shown; } cases[] = {
      {{}, "first\n\ntwice\ntwice\n"},
      {{.showProgress = true}, "step\nfirst\n\ntwice\ntwice\nfirst\n\ntwice\ntwice\n"},
      {{.showProgress = true, .showDebug = true}, "step\n  debug \xC5\x81\nfirst\n\ntwice\ntwice\nfirst\n\ntwice\ntwice\n"},
  };
  // clang-format on
  for (const auto& c : cases) {
    const ConsoleCapture capture;
    SetVerbosity(c.verbosity);
    ProgressLine(L"step");
    DebugLine(L"  debug \u0141");
    for (const wchar_t* error : {L"first", L"", L"twice", L"twice"}) RecordError(error);
    EXPECT_EQ(4u, ErrorCount());
    PrintErrorList();
    EXPECT_EQ(c.shown, capture.Text());
  }
}

TEST_F(ReportTest, ControlCharactersNeverReachTheConsole) {
  const std::string r = "\xEF\xBF\xBD";
  // clang-format off
  const struct { const char* what; std::string in, out; } cases[] = {
      {"plain text and tab stay", "a\tb \xC5\x81 \xE2\x82\xAC \xF0\x9F\x98\x80", "a\tb \xC5\x81 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"C0, CR and LF", std::string("\x1B[2J\x07\r\n\0x", 9), r + "[2J" + r + r + r + r + "x"},
      {"DEL", "a\x7F", "a" + r},
      {"C1 first and last", "\xC2\x80\xC2\x9B\xC2\x9F\xC2\xA0", r + r + r + "\xC2\xA0"},
      {"bidi controls", "\xE2\x80\xA7\xE2\x80\xAA\xE2\x80\xAE\xE2\x80\xAF", "\xE2\x80\xA7" + r + r + "\xE2\x80\xAF"},
      {"bidi marks, separators", "\xD8\x9B\xD8\x9C\xE2\x80\x8D\xE2\x80\x8E\xE2\x80\x8F\xE2\x80\xA8\xE2\x80\xA9", "\xD8\x9B" + r + "\xE2\x80\x8D" + r + r + r + r},
      {"bidi isolates", "\xE2\x81\xA5\xE2\x81\xA6\xE2\x81\xA9\xE2\x81\xAA", "\xE2\x81\xA5" + r + r + "\xE2\x81\xAA"},
      {"ill-formed bytes; a truncated sequence is one", "\x9B\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80\xE2\x80", r + r + r + r + r + r + r + r + r + r + r},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.out, ConsoleSafe(c.in));
  }
  // Every writer passes the filter; the writer's own line end stays.
  SetVerbosity({.showProgress = true, .showDebug = true});
  WriteLine(L"w\x1B");
  WriteLineUtf8("u\x9B");
  ProgressLine(L"p\u202E");
  DebugLine(L"d\r\n");
  RecordError(L"e\x85");
  NoticeLine(L"n\x07");
  EXPECT_EQ("w" + r + "\nu" + r + "\np" + r + "\nd" + r + r + "\ne" + r + "\n", console.Text());
  EXPECT_EQ("brevick: n" + r + "\n", console.ErrorText());
  EXPECT_EQ(std::vector<std::wstring>{L"e\x85"}, Errors());  // the list keeps the text
}

}  // namespace
}  // namespace brevick
