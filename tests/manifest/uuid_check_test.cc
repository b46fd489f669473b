// tests/manifest/uuid_check_test.cc
#include "manifest/uuid_check.h"

#include <gtest/gtest.h>

#include <string>

#include "app/report.h"
#include "tests/support/manifest_helpers.h"

namespace brevick {
namespace {

TEST(UuidCheckTest, TestsTheShapeOnlyAndSaysWhyInOneDebugLine) {
  const struct { std::string value; bool valid; std::string line; } cases[] = {
      {"", false, "UUID of module is < 3 characters"},
      {"{}", false, "UUID of module is < 3 characters"},
      {"{x}", true, "  UUID '{x}' validated OK"},
      {"{not-hex-at-all}", true, "  UUID '{not-hex-at-all}' validated OK"},
      {"{6F9619FF-8B86-D011-B42D-00C04FC964FF}", true,
       "  UUID '{6F9619FF-8B86-D011-B42D-00C04FC964FF}' validated OK"},
      {"6F9619FF", false, "UUID of module does not start with '{' character"},
      {"abc}", false, "UUID of module does not start with '{' character"},
      {" {abc}", false, "UUID of module does not start with '{' character"},
      {"{abc} ", false, "UUID of module does not end with '}' character"},
      {"{abc", false, "UUID of module does not end with '}' character"},
      {"{\xC3\xA9}", true, "  UUID '{\xC3\xA9}' validated OK"},  // length in bytes, shown as text
      {std::string("{\0}", 3), true, "  UUID '{' validated OK"},  // shown up to the NUL
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    testing::SetOutputFlags("D");
    const ConsoleCapture capture;
    EXPECT_EQ(c.valid, CheckModuleUuid(c.value));
    EXPECT_EQ(c.line + "\n", capture.Text());
    EXPECT_EQ(0u, ErrorCount());
  }
}

TEST(UuidCheckTest, WritesNothingWithProgressOutputOnly) {
  testing::SetOutputFlags("P");
  const ConsoleCapture capture;
  EXPECT_FALSE(CheckModuleUuid(""));
  EXPECT_TRUE(CheckModuleUuid("{a}"));
  EXPECT_EQ("", capture.Text());
}

}  // namespace
}  // namespace brevick
