#include "base/report.h"

#include <gtest/gtest.h>

namespace brevick {
namespace {

class ReportTest : public ::testing::Test {
 protected:
  ConsoleCapture console;
};

TEST_F(ReportTest, QuietRunKeepsErrorsForTheSummaryOnly) {
  ProgressLine(L"progress");
  DebugLine(L"debug");
  RecordError(L"first");
  EXPECT_EQ("", console.Text());
  PrintErrorList();
  EXPECT_EQ("first\n", console.Text());
}

TEST_F(ReportTest, ProgressShowsEachErrorWhenRecordedAndAgainInTheList) {
  SetVerbosity({.showProgress = true});
  ProgressLine(L"step");
  DebugLine(L"hidden");
  RecordError(L"bad \u0141");
  PrintErrorList();
  EXPECT_EQ("step\nbad \xC5\x81\nbad \xC5\x81\n", console.Text());
}

TEST_F(ReportTest, DebugShowsDebugLines) {
  SetVerbosity({.showProgress = true, .showDebug = true});
  DebugLine(L"  Length of file: 12 bytes");
  EXPECT_EQ("  Length of file: 12 bytes\n", console.Text());
}

TEST_F(ReportTest, EmptyAndRepeatedErrorsAreKeptInOrder) {
  RecordError(L"");
  RecordError(L"twice");
  RecordError(L"twice");
  ASSERT_EQ(3u, ErrorCount());
  PrintErrorList();
  EXPECT_EQ("\ntwice\ntwice\n", console.Text());
}

}  // namespace
}  // namespace brevick
