// tests/manifest/validation_test.cc: whole manifests through the package rules.
#include "manifest/validation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/report.h"
#include "app/stage_results.h"
#include "tests/support/manifest_helpers.h"

namespace brevick {
namespace {

using testing::CompactXml;
using testing::Lines;
using testing::ParseXml;
using testing::RecordedErrors;
using testing::SetOutputFlags;
using Strings = std::vector<std::string>;

const std::string kGoodDependency =
    R"(<dependency file="a.dll" entryPoint="1"><destination value="local"/></dependency>)";

std::string Module(const std::string& attributes, const std::string& content) {
  return "<module " + attributes + ">" + content + "</module>";
}

std::string GoodModule(const std::string& name) {
  return Module(R"(name=")" + name + R"(" id="{m}" host="Engine")",
                "<dependencies>" + kGoodDependency + "</dependencies>");
}

std::string Package(const std::string& modulesContent) {
  return R"(<dravanePackage><package name="P" id="{p}"><modules>)" + modulesContent +
         "</modules></package></dravanePackage>";
}

struct Outcome {
  int result;
  Strings errors;
};

Outcome Validate(const std::string& xml) {
  SetOutputFlags("");
  const ConsoleCapture capture;
  const auto document = ParseXml(xml);
  const int result = ValidateManifest(*document);
  return {result, RecordedErrors()};
}

TEST(ValidationTest, AcceptsTheSmallestCompleteManifestWithoutAWord) {
  const Outcome outcome = Validate(Package(GoodModule("A")));
  EXPECT_EQ(kStageGoOn, outcome.result);
  EXPECT_EQ(Strings{}, outcome.errors);
}

TEST(ValidationTest, RejectsABrokenSkeletonAndExaminesNothingAfter) {
  const struct { const char* what; std::string xml; Strings errors; } cases[] = {
      {"root differs in case", "<DravanePackage><package/></DravanePackage>",
       {"Opening <dravanePackage> element not found"}},
      {"root empty-element tag", "<dravanePackage/>", {"<package> element not found"}},
      {"root holds only a comment", "<dravanePackage><!-- c --></dravanePackage>",
       {"<package> element not found"}},
      {"other element before package",
       R"(<dravanePackage><info/><package name="P" id="{p}"><modules/></package></dravanePackage>)",
       {"<package> element not found"}},
      // The package UUID is checked only once modules is found.
      {"package without children or id", R"(<dravanePackage><package name="P"/></dravanePackage>)",
       {"<modules> element not found"}},
      {"other element before modules",
       R"(<dravanePackage><package name="P" id="{p}"><x/><modules/></package></dravanePackage>)",
       {"<modules> element not found"}},
      {"module as empty-element tag", Package(R"(<module name="A" id="{a}" host="UI"/>)"),
       {"<dependencies> element not found on module 'A'"}},
      {"module holding only text and a comment",
       Package(R"(<module name="A" id="{a}" host="UI"> text <!-- c --></module>)"),
       {"<dependencies> element not found on module 'A'"}},
      {"other element before dependencies",
       Package(Module(R"(name="A" id="{a}" host="UI")", "<notes/><dependencies>" + kGoodDependency +
                                                            "</dependencies>")),
       {"<dependencies> element not found on module 'A'"}},
      {"later modules are not validated",
       Package(Module(R"(name="A" id="{a}" host="UI")", "") + Module(R"(name="B" host="x")", "")),
       {"<dependencies> element not found on module 'A'"}},
      {"illegal element after the first dependency, later modules skipped",
       Package(Module(R"(name="A" id="{a}" host="Engine")",
                      "<dependencies>" + kGoodDependency + "<file/>" + kGoodDependency + "</dependencies>") +
               Module(R"(name="B" host="x")", "")),
       {"Illegal element 'file' found within <dependencies> list"}},
      {"errors before the stop stay",
       Package(Module(R"(name="A" id="a" host="x")", "")),
       {"Invalid UUID for module 'A'", "Invalid host 'x' for module 'A'. Must be 'Engine' or 'UI'",
        "<dependencies> element not found on module 'A'"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome outcome = Validate(c.xml);
    EXPECT_EQ(kStageManifestRejected, outcome.result);
    EXPECT_EQ(c.errors, outcome.errors);
  }
}

TEST(ValidationTest, RecordsFindingsInOrderAndGoesOn) {
  const struct { const char* what; std::string xml; Strings errors; } cases[] = {
      {"comment and blanks before package",
       "<dravanePackage>\n  <!-- c -->\n  " + Package(GoodModule("A")).substr(16), {}},
      {"package without id",
       R"(<dravanePackage><package name="P"><modules>)" + GoodModule("A") + "</modules></package></dravanePackage>",
       {"Invalid UUID for package 'P'"}},
      {"modules as empty-element tag, after the package UUID",
       R"(<dravanePackage><package name="P" id="{p"><modules/></package></dravanePackage>)",
       {"Invalid UUID for package 'P'", "No modules in the <modules> element"}},
      {"modules with start and end tag only", Package(""), {"No valid modules found in package 'P'"}},
      {"modules holding only a comment", Package("<!-- none -->"), {"No valid modules found in package 'P'"}},
      {"modules holding another element only", Package("<component/>"),
       {"Invalid element <component> within <modules>. Skipping.", "No valid modules found in package 'P'"}},
      {"Module in other case is skipped, module still found", Package("<Module/>" + GoodModule("A")),
       {"Invalid element <Module> within <modules>. Skipping."}},
      {"host All is accepted", Package(Module(R"(name="A" id="{a}" host="All")",
                                              "<dependencies>" + kGoodDependency + "</dependencies>")),
       {}},
      {"host in lower case", Package(Module(R"(name="A" id="{a}" host="engine")",
                                            "<dependencies>" + kGoodDependency + "</dependencies>")),
       {"Invalid host 'engine' for module 'A'. Must be 'Engine' or 'UI'"}},
      {"host absent", Package(Module(R"(name="A" id="{a}")",
                                     "<dependencies>" + kGoodDependency + "</dependencies>")),
       {"Invalid host '' for module 'A'. Must be 'Engine' or 'UI'"}},
      {"entry point true, yes and 01 do not count",
       Package(Module(R"(name="A" id="{a}" host="UI")",
                      R"(<dependencies><dependency file="a" entryPoint="true"><destination value="local"/>)"
                      R"(</dependency><dependency file="b" entryPoint="yes"><destination value="system"/>)"
                      R"(</dependency><dependency file="c" entryPoint="01"><destination value="shared"/>)"
                      R"(</dependency></dependencies>)")),
       {"No entry point found for module 'A'"}},
      {"two entry points",
       Package(Module(R"(name="A" id="{a}" host="UI")",
                      "<dependencies>" + kGoodDependency + kGoodDependency + kGoodDependency + "</dependencies>")),
       {"Multiple entry point files found for module 'A'"}},
      {"empty dependencies", Package(Module(R"(name="A" id="{a}" host="UI")", "<dependencies/>")),
       {"No dependencies found for module 'A'", "No entry point found for module 'A'"}},
      {"destination missing, blank-padded, other case",
       Package(Module(R"(name="A" id="{a}" host="UI")",
                      R"(<dependencies><dependency file="a" entryPoint="1"/>)"
                      R"(<dependency file="b"><destination value=" local"/></dependency>)"
                      R"(<dependency file="c"><destination value="Local"/></dependency>)"
                      R"(<dependency file="d"><destination/></dependency></dependencies>)")),
       {"Invalid <destination> value. Valid values are 'local' 'system' and 'shared'",
        "Invalid <destination> value. Valid values are 'local' 'system' and 'shared'",
        "Invalid <destination> value. Valid values are 'local' 'system' and 'shared'",
        "Invalid <destination> value. Valid values are 'local' 'system' and 'shared'"}},
      {"UUID, host, destination in that order, entry point last",
       Package(Module(R"(name="A" id="a}" host="Both")",
                      R"(<dependencies><dependency><destination value="remote"/></dependency></dependencies>)")),
       {"Invalid UUID for module 'A'", "Invalid host 'Both' for module 'A'. Must be 'Engine' or 'UI'",
        "Invalid <destination> value. Valid values are 'local' 'system' and 'shared'",
        "No entry point found for module 'A'"}},
      {"every module is validated", Package(GoodModule("A") + Module(R"(name="B" id="" host="UI")",
                                                                    "<dependencies>" + kGoodDependency +
                                                                        "</dependencies>") +
                                            GoodModule("C")),
       {"Invalid UUID for module 'B'"}},
      {"names are shown as UTF-8 text",
       R"(<dravanePackage><package name="Paket &#xE9;"><modules/></package></dravanePackage>)",
       {"Invalid UUID for package 'Paket \u00e9'", "No modules in the <modules> element"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome outcome = Validate(c.xml);
    EXPECT_EQ(kStageGoOn, outcome.result);
    EXPECT_EQ(c.errors, outcome.errors);
  }
}

TEST(ValidationTest, WritesEveryLineInOrderWithDebugOutput) {
  SetOutputFlags("D");
  const ConsoleCapture capture;
  const auto document = ParseXml(Package(
      "<x/>" + Module(R"(name="A" id="{a}" host="UI")",
                      R"(<dependencies><dependency file="a.dll" entryPoint="1"><destination value="local"/>)"
                      R"(</dependency><dependency file="b.dll" entryPoint="0"><destination value="nowhere"/>)"
                      R"(</dependency></dependencies>)")));
  EXPECT_EQ(kStageGoOn, ValidateManifest(*document));
  const Strings expected = {
      "Found root '<dravanePackage>' element'",
      "Found '<package>' element'",
      "  Package name:P",
      "  UUID '{p}' validated OK",
      "Found <modules> element",
      "Validating XML for package 'P'",
      "",
      "Invalid element <x> within <modules>. Skipping.",
      "",
      "Validating XML for module 'A'",
      "  UUID '{a}' validated OK",
      "  Host:UI",
      "Dependency file: a.dll",
      "  EntryPoint:YES",
      "  File destination type: local",
      "Dependency file: b.dll",
      "  EntryPoint:NO",
      "  File destination type: nowhere",
      "Invalid <destination> value. Valid values are 'local' 'system' and 'shared'",
  };
  EXPECT_EQ(expected, Lines(capture.Text()));
}

TEST(ValidationTest, ShowsOnlyProgressLinesAndErrorsWithProgressOutput) {
  SetOutputFlags("P");
  const ConsoleCapture capture;
  const auto document = ParseXml(Package(GoodModule("A") + Module(R"(name="B" id="{b}" host="Engine")",
                                                                   "<dependencies/>")));
  EXPECT_EQ(kStageGoOn, ValidateManifest(*document));
  const Strings expected = {
      "Validating XML for package 'P'",
      "Validating XML for module 'A'",
      "Validating XML for module 'B'",
      "No dependencies found for module 'B'",
      "No entry point found for module 'B'",
  };
  EXPECT_EQ(expected, Lines(capture.Text()));
}

TEST(ValidationTest, WritesNothingWithoutOutputFlagsButStillRecords) {
  SetOutputFlags("");
  const ConsoleCapture capture;
  const auto document = ParseXml("<other/>");
  EXPECT_EQ(kStageManifestRejected, ValidateManifest(*document));
  EXPECT_EQ("", capture.Text());
  EXPECT_EQ(1u, ErrorCount());
}

TEST(ValidationTest, RejectsADocumentWithoutRoot) {
  SetOutputFlags("");
  const ConsoleCapture capture;
  xmldoc::Document document;
  EXPECT_EQ(kStageManifestRejected, ValidateManifest(document));
  EXPECT_EQ(Strings{"Opening <dravanePackage> element not found"}, RecordedErrors());
}

TEST(ValidationTest, LeavesMissingDependencyAttributesPresentAndEmpty) {
  SetOutputFlags("");
  const ConsoleCapture capture;
  const auto document = ParseXml(Package(Module(
      R"(name="A" id="{a}" host="UI")",
      R"(<dependencies><dependency note="n"><destination kind="k"/></dependency>)"
      R"(<dependency file="b" entryPoint="1"/></dependencies>)")));
  EXPECT_EQ(kStageGoOn, ValidateManifest(*document));
  // A missing destination element is not created; the null objects stay empty.
  EXPECT_EQ(Package(Module(R"(name="A" id="{a}" host="UI")",
                           R"(<dependencies><dependency note="n" file="" entryPoint="">)"
                           R"(<destination kind="k" value=""/></dependency>)"
                           R"(<dependency file="b" entryPoint="1"/></dependencies>)")),
            CompactXml(document->GetRoot()));
  EXPECT_EQ("", xmldoc::NullElement().GetOrCreateAttribute("value").GetText());
  EXPECT_TRUE(xmldoc::NullElement().GetAttributes().empty());
}

}  // namespace
}  // namespace brevick
