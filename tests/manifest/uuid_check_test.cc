// tests/manifest/uuid_check_test.cc
#include "manifest/uuid_check.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/recording_reporter.h"

namespace brevick {
namespace {

// Only the shape is checked; one debug line says why.
TEST(UuidCheckTest, TestsTheShapeOnlyAndSaysWhyInOneDebugLine) {
  const struct {
    std::string value;
    bool valid;
    std::string line;
  } cases[] = {
      {"", false, "UUID of module is < 3 characters"},
      {"{}", false, "UUID of module is < 3 characters"},
      {"{not-hex-at-all}", true, "  UUID '{not-hex-at-all}' validated OK"},
      {"abc}", false, "UUID of module does not start with '{' character"},
      {" {abc}", false, "UUID of module does not start with '{' character"},
      {"{abc} ", false, "UUID of module does not end with '}' character"},
      {"{\xC3\xA9}", true, "  UUID '{\xC3\xA9}' validated OK"},   // length in bytes, shown as text
      {std::string("{\0}", 3), true, "  UUID '{' validated OK"},  // shown up to the NUL
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    testing::RecordingReporter reporter;
    EXPECT_EQ(c.valid, CheckModuleUuid(c.value, reporter));
    ASSERT_EQ(1u, reporter.lines.size());
    EXPECT_EQ(testing::RecordingReporter::Kind::kDebug, reporter.lines[0].kind);
    EXPECT_EQ(c.line, reporter.lines[0].text);
  }
}

}  // namespace
}  // namespace brevick
