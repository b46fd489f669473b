// Runs the built executable and compares its whole standard output and exit code.
#include <gtest/gtest.h>

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace brevick::testing {
namespace {

const std::string kUsage = UsageText();

// Every run gets a home of its own, so no test sees the user's certificate stores.
class CliTest : public ::testing::Test {
 protected:
  ProcessResult Run(const std::vector<std::string>& args) {
    return RunBrevickAtHome(home.Path(), args);
  }
  void MakeStore(const std::string& name) {
    std::filesystem::create_directories(home.Path() / "data/brevick/certstores" / name);
  }
  TempDir home;
};

TEST_F(CliTest, NoArgumentsPrintsBannerTooFewAndUsage) {
  const ProcessResult result = Run({});
  EXPECT_EQ(Banner() + "Too few arguments. Minimum is 2.\n" + kUsage, result.output);
  EXPECT_EQ(kHelpPointer, result.errors);
  EXPECT_EQ(1, result.exitCode);
}

TEST_F(CliTest, ArgumentsThatFitNoModePrintUsageWithoutSummary) {
  const std::vector<std::string> cases[] = {
      {"-L", "-P"},   // -L tolerates nothing but -S and its value
      {"-LS", "-L"},  // behaves as -L with one extra argument
      {"-L", "-S"},   // -S last: usage once from parsing, once from the dispatch
      {"-L", "-S", "My", "x"},
      {"in.xml", "out.p7"},  // manifest mode lacks the subject
      {"-P"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const ProcessResult result = Run(args);
    const bool usageTwice = args.back() == "-S";
    EXPECT_EQ(Banner() + kUsage + (usageTwice ? kUsage : ""), result.output);
    EXPECT_EQ(kHelpPointer, result.errors);
    EXPECT_EQ(1, result.exitCode);
  }
}

// Standard error says what standard output's fixed texts leave out; --quiet
// keeps standard output to what is wrong.
TEST_F(CliTest, ReasonsOnStandardErrorAndQuietRuns) {
  MakeStore("My");
  const std::string stores = (home.Path() / "data/brevick/certstores").string();
  const std::string noStores = "\nThere were errors:\nNo stores to display\n";
  const struct {
    std::vector<std::string> args;
    std::string output, errors;
    int exitCode;
  } cases[] = {
      // clang-format off
      {{"-L", "-S", "Missing"}, Banner() + noStores, "brevick: there is no certificate store 'Missing' in " + stores + "\n", 1},
      {{"-LS", "-S", "my"}, Banner() + noStores, "brevick: there is no certificate store 'my' in " + stores + "\n", 1},
      {{"--quiet", "-LS"}, "Store 'My'\n", "", 0},
      {{"-LS", "-P", "--quiet", "-S", "none"}, noStores, "brevick: there is no certificate store 'none' in " + stores + "\n", 1},
      {{"--quiet", "in.xml"}, kUsage, kHelpPointer, 1},
      {{"--jobs=x", "in.xml", "out", "s"}, Banner() + kUsage, "brevick: --jobs needs a whole number of at least 1, not 'x'\n" + std::string(kHelpPointer), 1},
      {{"--certificates", "-S", "My", "--probe", "-P"}, "", "brevick: --certificates takes only -S STORE and --probe beside it, not '-P'\n" + std::string(kHelpPointer), 1},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ProcessResult result = Run(c.args);
    EXPECT_EQ(c.output, result.output);
    EXPECT_EQ(c.errors, result.errors);
    EXPECT_EQ(c.exitCode, result.exitCode);
  }
}

TEST_F(CliTest, ListingModesRunWithTheArgumentsTheyAccept) {
  MakeStore("My");
  MakeStore("Root");
  const struct {
    std::vector<std::string> args;
    std::string listing;
  } cases[] = {
      {{"-LS", "-P", "in.xml"}, "Store 'My'\nStore 'Root'\n"},  // -LS ignores other arguments
      {{"-S", "Root", "-L"}, "Store 'Root'\nStore contained 0 certificate(s)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ProcessResult result = Run(c.args);
    EXPECT_EQ(Banner() + c.listing + "\nDone\n", result.output);
    EXPECT_EQ(0, result.exitCode);
  }
}

TEST_F(CliTest, DebugEchoesSettingsBeforeTheMode) {
  const ProcessResult result = Run({"-LS", "-D", "-S", "none"});
  EXPECT_EQ(Banner() + "Command Line: " BREVICK_EXE
                       " -LS -D -S none \n"
                       "File root directory: .\n"
                       "List certificate stores:YES\n"
                       "List certificates:NO\n"
                       "Store:none\n"
                       "Show Progress:YES\n"
                       "\n"
                       "No stores to display\n"
                       "\nThere were errors:\nNo stores to display\n",
            result.output);
  EXPECT_EQ(1, result.exitCode);
}

TEST_F(CliTest, StoreOptionLastPrintsUsageMidRunAndTheManifestIsStillProcessed) {
  const ProcessResult result = Run({"-P", "missing.xml", "out.p7", "CN=x", "-S"});
  EXPECT_EQ(Banner() + kUsage +
                "Reading manifest: missing.xml\n"
                "Failed to open missing.xml. No such file or directory\n"
                "\nThere were errors:\n"
                "Failed to open missing.xml. No such file or directory\n",
            result.output);
  EXPECT_EQ(1, result.exitCode);
}

}  // namespace
}  // namespace brevick::testing
