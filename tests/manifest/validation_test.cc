// tests/manifest/validation_test.cc: whole manifests through the package
// rules, the UUID shape check, and the developer attributes removed after.
#include "manifest/validation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/stage_result.h"
#include "manifest/developer_info.h"
#include "manifest/uuid_check.h"
#include "tests/support/manifest_helpers.h"
#include "tests/support/recording_reporter.h"

namespace brevick {
namespace {

using testing::ParseXml;
using testing::RecordingReporter;
using Strings = std::vector<std::string>;

const std::string kGoodDependency =
    R"(<dependency file="a.dll" entryPoint="1"><destination value="local"/></dependency>)";
const std::string kBadDestination =
    "Invalid <destination> value. Valid values are 'local' 'system' and 'shared'";

// A module A with the given attributes after its name, holding `content`.
std::string ModuleA(const std::string& attributes, const std::string& content) {
  return R"(<module name="A" )" + attributes + ">" + content + "</module>";
}

std::string WithDependencies(const std::string& attributes, const std::string& dependencies) {
  return ModuleA(attributes, "<dependencies>" + dependencies + "</dependencies>");
}

std::string Package(const std::string& modulesContent) {
  return R"(<dravanePackage><package name="P" id="{p}"><modules>)" + modulesContent +
         "</modules></package></dravanePackage>";
}

struct Case {
  const char* what;
  std::string xml;
  Strings errors;
  std::string validated = {};  // the package after validation; empty: unchecked
};

void ExpectOutcome(const Case& c, StageResult result) {
  SCOPED_TRACE(c.what);
  RecordingReporter reporter;
  const auto document = ParseXml(c.xml);
  EXPECT_EQ(result, ValidateManifest(*document, reporter));
  EXPECT_EQ(c.errors, reporter.Errors());
  if (!c.validated.empty()) {
    EXPECT_EQ(c.validated, testing::CompactXml(document->GetRoot()));
  }
  EXPECT_TRUE(xmldoc::NullElement().GetAttributes().empty());
}

TEST(ValidationTest, RejectsABrokenSkeletonAndExaminesNothingAfter) {
  // clang-format off
  const Case cases[] = {
      {"root differs in case", "<DravanePackage><package/></DravanePackage>", {"Opening <dravanePackage> element not found"}},
      {"root holds only a comment", "<dravanePackage><!-- c --></dravanePackage>", {"<package> element not found"}},
      {"other element before package", R"(<dravanePackage><info/><package name="P" id="{p}"><modules/></package></dravanePackage>)", {"<package> element not found"}},
      // The package UUID is checked only once modules is found.
      {"package without children or id", R"(<dravanePackage><package name="P"/></dravanePackage>)", {"<modules> element not found"}},
      {"module as empty-element tag, later modules skipped", Package(R"(<module name="A" id="{a}" host="UI"/><module name="B"/>)"), {"<dependencies> element not found on module 'A'"}},
      {"other element before dependencies", Package(ModuleA(R"(id="{a}" host="UI")", "<notes/><dependencies/>")), {"<dependencies> element not found on module 'A'"}},
      {"illegal element after the first dependency, later modules skipped", Package(WithDependencies(R"(id="{a}" host="Engine")", kGoodDependency + "<file/>" + kGoodDependency) + R"(<module name="B"/>)"), {"Illegal element 'file' found within <dependencies> list"}},
      {"errors before the stop stay", Package(ModuleA(R"(id="a" host="x")", "")), {"Invalid UUID for module 'A'", "Invalid host 'x' for module 'A'. Must be 'Engine' or 'UI'", "<dependencies> element not found on module 'A'"}},
  };
  // clang-format on
  for (const Case& c : cases) ExpectOutcome(c, StageResult::kManifestRejected);
  RecordingReporter reporter;
  xmldoc::Document noRoot;
  EXPECT_EQ(StageResult::kManifestRejected, ValidateManifest(noRoot, reporter));
}

TEST(ValidationTest, RecordsFindingsInOrderAndGoesOn) {
  // clang-format off
  const Case cases[] = {
      {"complete, with a comment and blanks before package", "<dravanePackage>\n  <!-- c -->\n  " + Package(WithDependencies(R"(id="{a}" host="All")", kGoodDependency)).substr(16), {}},
      {"modules as empty-element tag, after the package UUID", R"(<dravanePackage><package name="P" id="{p"><modules/></package></dravanePackage>)", {"Invalid UUID for package 'P'", "No modules in the <modules> element"}},
      {"modules holding only a comment", Package("<!-- none -->"), {"No valid modules found in package 'P'"}},
      {"modules holding another element only", Package("<Module/>"), {"Invalid element <Module> within <modules>. Skipping.", "No valid modules found in package 'P'"}},
      {"host in lower case", Package(WithDependencies(R"(id="{a}" host="engine")", kGoodDependency)), {"Invalid host 'engine' for module 'A'. Must be 'Engine' or 'UI'"}},
      {"entry point true and yes do not count", Package(WithDependencies(R"(id="{a}" host="UI")", R"(<dependency file="a" entryPoint="true"><destination value="system"/></dependency>)" R"(<dependency file="b" entryPoint="yes"><destination value="shared"/></dependency>)")), {"No entry point found for module 'A'"}},
      {"two entry points", Package(WithDependencies(R"(id="{a}" host="UI")", kGoodDependency + kGoodDependency)), {"Multiple entry point files found for module 'A'"}},
      {"empty dependencies", Package(ModuleA(R"(id="{a}" host="UI")", "<dependencies/>")), {"No dependencies found for module 'A'", "No entry point found for module 'A'"}},
      {"destination missing, blank-padded, other case", Package(WithDependencies(R"(id="{a}" host="UI")", R"(<dependency file="a" entryPoint="1"/>)" R"(<dependency file="b"><destination value=" local"/></dependency>)" R"(<dependency file="c"><destination value="Local"/></dependency>)")), {kBadDestination, kBadDestination, kBadDestination}},
      // Missing dependency attributes are added empty; a missing destination element is not.
      {"missing attributes", Package(WithDependencies(R"(id="{a}" host="UI")", R"(<dependency note="n"><destination kind="k"/></dependency><dependency file="b" entryPoint="1"/>)")), {kBadDestination, kBadDestination}, Package(WithDependencies(R"(id="{a}" host="UI")", R"(<dependency note="n" file="" entryPoint=""><destination kind="k" value=""/></dependency><dependency file="b" entryPoint="1"/>)"))},
      {"UUID, host, destination in that order, entry point last, every module validated", Package(WithDependencies(R"(id="a}" host="Both")", R"(<dependency><destination value="remote"/></dependency>)") + WithDependencies(R"(id="" host="UI")", kGoodDependency)), {"Invalid UUID for module 'A'", "Invalid host 'Both' for module 'A'. Must be 'Engine' or 'UI'", kBadDestination, "No entry point found for module 'A'", "Invalid UUID for module 'A'"}},
  };
  // clang-format on
  for (const Case& c : cases) ExpectOutcome(c, StageResult::kGoOn);
}

TEST(ValidationTest, WritesProgressLinesWithPAndEveryLineInOrderWithD) {
  const std::string xml = Package(
      "<x/>" +
      WithDependencies(
          R"(id="{a}" host="UI")",
          R"(<dependency file="a.dll" entryPoint="1"><destination value="local"/></dependency>)"
          R"(<dependency file="b.dll" entryPoint="0"><destination value="nowhere"/>)"
          R"(</dependency>)"));
  // clang-format off
  const struct { const char* flags; Strings lines; } cases[] = {
      {"P", {"Validating XML for package 'P'", "Invalid element <x> within <modules>. Skipping.", "Validating XML for module 'A'", kBadDestination}},
      {"D", {"Found root '<dravanePackage>' element'", "Found '<package>' element'", "  Package name:P", "  UUID '{p}' validated OK", "Found <modules> element", "Validating XML for package 'P'", "", "Invalid element <x> within <modules>. Skipping.", "", "Validating XML for module 'A'", "  UUID '{a}' validated OK", "  Host:UI", "Dependency file: a.dll", "  EntryPoint:YES", "  File destination type: local", "Dependency file: b.dll", "  EntryPoint:NO", "  File destination type: nowhere", kBadDestination}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags);
    RecordingReporter reporter;
    EXPECT_EQ(StageResult::kGoOn, ValidateManifest(*ParseXml(xml), reporter));
    EXPECT_EQ(c.lines, reporter.Shown(c.flags));
  }
}

// Only the shape is checked; one debug line says why.
TEST(UuidCheckTest, TestsTheShapeOnlyAndSaysWhyInOneDebugLine) {
  // clang-format off
  const struct { std::string value; bool valid; std::string line; } cases[] = {
      {"", false, "UUID of module is < 3 characters"},
      {"{}", false, "UUID of module is < 3 characters"},
      {"{not-hex-at-all}", true, "  UUID '{not-hex-at-all}' validated OK"},
      {"abc}", false, "UUID of module does not start with '{' character"},
      {" {abc}", false, "UUID of module does not start with '{' character"},
      {"{abc} ", false, "UUID of module does not end with '}' character"},
      {"{\xC3\xA9}", true, "  UUID '{\xC3\xA9}' validated OK"},   // length in bytes, shown as text
      {std::string("{\0}", 3), true, "  UUID '{' validated OK"},  // shown up to the NUL
  };
  // clang-format on
  for (const auto& c : cases) {
    RecordingReporter reporter;
    EXPECT_EQ(c.valid, CheckModuleUuid(c.value, reporter)) << c.value;
    EXPECT_EQ(Strings{c.line}, reporter.Shown("D")) << c.value;
    EXPECT_EQ(Strings{}, reporter.Shown("P")) << c.value;
  }
}

TEST(DeveloperInfoTest, StripsPackageAndModuleAttributesOnlyWhereTheyBelong) {
  // clang-format off
  const struct { std::string xml, stripped; Strings lines; } cases[] = {
      {R"(<dravanePackage><package mode="debug" name="P" debugPath="keep"><modules>)" R"(<module name="A" debugPath="d" releasePath="r" mode="keep"><dependencies/></module>)" R"(<!-- c --><component debugPath="d"/></modules></package></dravanePackage>)", R"(<dravanePackage><package name="P" debugPath="keep"><modules>)" R"(<module name="A" mode="keep"><dependencies/></module>)" R"(<!-- c --><component/></modules></package></dravanePackage>)", {"Removing developer information from <P> package.", "Removing developer information from <A> module.", "Removing developer information from <> module."}},  // any element counts, named or not
      {"<dravanePackage><package><modules> </modules></package></dravanePackage>", "<dravanePackage><package><modules> </modules></package></dravanePackage>", {"Removing developer information from <> package."}},
  };
  // clang-format on
  for (const auto& c : cases) {
    RecordingReporter reporter;
    const auto document = ParseXml(c.xml);
    EXPECT_TRUE(RemovePackageDeveloperInformation(*document, reporter));
    EXPECT_TRUE(RemoveModuleDeveloperInformation(*document, reporter));
    EXPECT_EQ(c.stripped, testing::CompactXml(*document)) << c.xml;
    EXPECT_EQ(c.lines, reporter.Shown("P")) << c.xml;
  }
}

}  // namespace
}  // namespace brevick
