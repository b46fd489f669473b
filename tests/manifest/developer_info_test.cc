// tests/manifest/developer_info_test.cc
#include "manifest/developer_info.h"

#include <gtest/gtest.h>

#include "tests/support/manifest_helpers.h"
#include "tests/support/recording_reporter.h"

namespace brevick {
namespace {

TEST(DeveloperInfoTest, StripsPackageAndModuleAttributesOnlyWhereTheyBelong) {
  using Strings = std::vector<std::string>;
  const struct {
    std::string xml;
    std::string stripped;
    Strings lines;
  } cases[] = {
      // clang-format off
      {R"(<dravanePackage><package mode="debug" name="P" debugPath="keep"><modules>)" R"(<module name="A" debugPath="d" releasePath="r" mode="keep"><dependencies/></module>)" R"(<!-- c --><component debugPath="d"/></modules></package></dravanePackage>)", R"(<dravanePackage><package name="P" debugPath="keep"><modules>)" R"(<module name="A" mode="keep"><dependencies/></module>)" R"(<!-- c --><component/></modules></package></dravanePackage>)", {"Removing developer information from <P> package.", "Removing developer information from <A> module.", "Removing developer information from <> module."}},  // any element counts, named or not
      {"<dravanePackage><package><modules> </modules></package></dravanePackage>", "<dravanePackage><package><modules> </modules></package></dravanePackage>", {"Removing developer information from <> package."}},
      {"<dravanePackage/>", "<dravanePackage/>", {"Removing developer information from <> package."}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.xml);
    testing::RecordingReporter reporter;
    const auto document = testing::ParseXml(c.xml);
    EXPECT_TRUE(RemovePackageDeveloperInformation(*document, reporter));
    EXPECT_TRUE(RemoveModuleDeveloperInformation(*document, reporter));
    EXPECT_EQ(c.stripped, testing::CompactXml(*document));
    EXPECT_EQ(c.lines, reporter.Shown("D"));
  }
}

}  // namespace
}  // namespace brevick
