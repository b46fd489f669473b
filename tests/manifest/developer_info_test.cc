// tests/manifest/developer_info_test.cc
#include "manifest/developer_info.h"

#include <gtest/gtest.h>

#include "app/report.h"
#include "tests/support/manifest_helpers.h"

namespace brevick {
namespace {

using testing::CompactXml;
using testing::Lines;
using testing::ParseXml;

TEST(DeveloperInfoTest, StripsPackageAndModuleAttributesOnlyWhereTheyBelong) {
  testing::SetOutputFlags("P");
  const ConsoleCapture capture;
  const auto document = ParseXml(
      R"(<dravanePackage><package mode="debug" name="P" id="{p}" debugPath="keep">)"
      R"(<modules><module name="A" debugPath="d" releasePath="r" mode="keep" host="UI"><dependencies/></module>)"
      R"(<module releasePath="r" name="B"/><!-- c --><component debugPath="d"/>)"
      R"(<module id="{c}"/></modules></package></dravanePackage>)");
  EXPECT_TRUE(RemovePackageDeveloperInformation(*document));
  EXPECT_TRUE(RemoveModuleDeveloperInformation(*document));
  EXPECT_EQ(R"(<dravanePackage><package name="P" id="{p}" debugPath="keep">)"
            R"(<modules><module name="A" mode="keep" host="UI"><dependencies/></module>)"
            R"(<module name="B"/><!-- c --><component/>)"
            R"(<module id="{c}"/></modules></package></dravanePackage>)",
            CompactXml(*document));
  const std::vector<std::string> expected = {
      "Removing developer information from <P> package.",
      "Removing developer information from <A> module.",
      "Removing developer information from <B> module.",
      "Removing developer information from <> module.",  // component: no name
      "Removing developer information from <> module.",
  };
  EXPECT_EQ(expected, Lines(capture.Text()));
  EXPECT_EQ(0u, ErrorCount());
}

TEST(DeveloperInfoTest, WritesNoModuleLineWhenModulesHasNoElement) {
  testing::SetOutputFlags("P");
  const ConsoleCapture capture;
  const auto document = ParseXml(R"(<dravanePackage><package><modules> </modules></package></dravanePackage>)");
  EXPECT_TRUE(RemovePackageDeveloperInformation(*document));
  EXPECT_TRUE(RemoveModuleDeveloperInformation(*document));
  EXPECT_EQ(std::vector<std::string>{"Removing developer information from <> package."}, Lines(capture.Text()));
}

TEST(DeveloperInfoTest, AddsNothingToADocumentThatLacksThePackage) {
  testing::SetOutputFlags("");
  const ConsoleCapture capture;
  const auto document = ParseXml("<dravanePackage/>");
  EXPECT_TRUE(RemovePackageDeveloperInformation(*document));
  EXPECT_TRUE(RemoveModuleDeveloperInformation(*document));
  EXPECT_EQ("<dravanePackage/>", CompactXml(*document));
}

}  // namespace
}  // namespace brevick
