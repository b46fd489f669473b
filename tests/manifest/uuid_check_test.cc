// tests/manifest/uuid_check_test.cc
#include "manifest/uuid_check.h"

#include <gtest/gtest.h>

#include <string>

#include "base/report.h"
#include "tests/support/manifest_helpers.h"

namespace brevick {
namespace {

// Only the shape is checked; with -D one line says why, with -P nothing.
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
    for (const char* flags : {"D", "P"}) {
      testing::SetOutputFlags(flags);
      const ConsoleCapture capture;
      EXPECT_EQ(c.valid, CheckModuleUuid(c.value));
      EXPECT_EQ(flags[0] == 'D' ? c.line + "\n" : "", capture.Text());
      EXPECT_EQ(0u, ErrorCount());
    }
  }
}

}  // namespace
}  // namespace brevick
