#include "app/options.h"

#include <gtest/gtest.h>

#include "base/report.h"
#include "base/utf8.h"
#include "tests/support/process.h"

namespace brevick {
namespace {

const std::string kUsage = testing::UsageText();

std::vector<std::wstring> Args(std::initializer_list<const wchar_t*> rest) {
  std::vector<std::wstring> args = {L"brevick"};
  for (const wchar_t* arg : rest) args.emplace_back(arg);
  return args;
}

TEST(OptionsTest, PositionalArgumentsFillInOrderAndAFourthIsIgnored) {
  ConsoleCapture console;
  const CommandLine cl = ParseArguments(Args({L"in.xml", L"-l", L"CN=x", L"extra"}));
  EXPECT_EQ(L"in.xml", cl.settings.infile.value());
  EXPECT_EQ(L"-l", cl.settings.outfile.value());  // options match case-sensitively
  EXPECT_EQ(L"CN=x", cl.settings.certSubjectName.value());
  EXPECT_EQ("", console.Text());
}

TEST(OptionsTest, ValueOptionsTakeTheNextArgumentWhateverItLooksLike) {
  ConsoleCapture console;
  const CommandLine cl = ParseArguments(Args({L"-S", L"-P", L"-R", L"-D", L"-R", L"C:\\src\\"}));
  EXPECT_EQ(L"-P", cl.settings.storeName.value());
  EXPECT_EQ(L"C:\\src\\", cl.settings.rootDirectory);  // a later -R replaces an earlier one
  EXPECT_FALSE(cl.settings.showProgress);
  EXPECT_FALSE(cl.settings.showDebug);
  EXPECT_FALSE(cl.settings.infile.has_value());
}

TEST(OptionsTest, ValueOptionStandingLastPrintsUsageAndParsingGoesOn) {
  for (const wchar_t* option : {L"-S", L"-R"}) {
    ConsoleCapture console;
    const CommandLine cl = ParseArguments(Args({L"a", L"-P", L"b", option}));
    EXPECT_EQ(kUsage, console.Text());
    EXPECT_FALSE(cl.settings.storeName.has_value());
    EXPECT_EQ(L".", cl.settings.rootDirectory);
    EXPECT_TRUE(cl.settings.showProgress);
    EXPECT_EQ(L"b", cl.settings.outfile.value());
  }
}

TEST(OptionsTest, FlagsAndModes) {
  ConsoleCapture console;
  const CommandLine cl = ParseArguments(Args({L"-LS", L"-L", L"-D"}));
  EXPECT_TRUE(cl.listStores);
  EXPECT_TRUE(cl.listCertificates);
  EXPECT_TRUE(cl.settings.showDebug);
  EXPECT_TRUE(cl.settings.showProgress);  // -D implies progress
}

TEST(OptionsTest, CommandLineTextEndsEveryArgumentWithOneBlank) {
  EXPECT_EQ(L"brevick a b ", CommandLineText(Args({L"a", L"b"})));
  EXPECT_EQ(L"brevick  ", CommandLineText(Args({L""})));
}

TEST(OptionsTest, EchoShowsStoreDefaultAbsentAndEmptyDifferently) {
  const struct {
    std::vector<std::wstring> args;
    std::string storeLine;
  } cases[] = {
      {Args({L"-D"}), "Store:Default\n"},
      {Args({L"-D", L"-S", L""}), "Store:\n"},
      {Args({L"-D", L"-S", L"Root"}), "Store:Root\n"},
  };
  for (const auto& c : cases) {
    ConsoleCapture console;
    const CommandLine cl = ParseArguments(c.args);
    SetVerbosity({cl.settings.showProgress, cl.settings.showDebug});
    EchoSettings(cl, c.args);
    const std::string expected = "Command Line: " + ToUtf8(CommandLineText(c.args)) + "\n" +
                                 "File root directory: .\n"
                                 "List certificate stores:NO\n"
                                 "List certificates:NO\n" +
                                 c.storeLine + "Show Progress:YES\n\n";
    EXPECT_EQ(expected, console.Text());
  }
}

}  // namespace
}  // namespace brevick
