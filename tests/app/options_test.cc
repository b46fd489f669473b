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

TEST(OptionsTest, ValueOptionStandingLastAsksForTheUsageTextAndParsingGoesOn) {
  for (const wchar_t* option : {L"-S", L"-R"}) {
    ConsoleCapture console;
    const CommandLine cl = ParseArguments(Args({L"a", L"-P", L"b", option}));
    EXPECT_EQ("", console.Text());  // the run prints it, after the banner
    EXPECT_TRUE(cl.valueOptionLast);
    EXPECT_FALSE(cl.settings.storeName.has_value());
    EXPECT_EQ(L".", cl.settings.rootDirectory);
    EXPECT_TRUE(cl.settings.showProgress);
    EXPECT_EQ(L"b", cl.settings.outfile.value());
  }
}

// What the operator is told about arguments read otherwise than meant, and
// the "--name=value" form, in the classic and the verify modes alike.
TEST(OptionsTest, ArgumentWarningsAndUsageErrors) {
  using Texts = std::vector<std::wstring>;
  const std::wstring extra = L"' (quote a subject that has blanks)";
  const struct {
    bool verify;
    std::vector<std::wstring> args;
    Texts warnings, errors;
  } cases[] = {
      // clang-format off
      {false, Args({L"m.xml", L"out.p7", L"Release", L"Signing"}), {L"warning: ignoring extra argument 'Signing" + extra}, {}},
      {false, Args({L"m.xml", L"out.p7", L"--digets", L"sha256"}), {L"warning: '--digets' is not an option; it is read as the subject; did you mean --digest?", L"warning: ignoring extra argument 'sha256" + extra}, {}},
      {false, Args({L"--dryrun", L"m.xml"}), {L"warning: '--dryrun' is not an option; it is read as the input file; did you mean --dry-run?"}, {}},
      {false, Args({L"m.xml", L"--frobnicate", L"s"}), {L"warning: '--frobnicate' is not an option; it is read as the output file"}, {}},
      {false, Args({L"m.xml", L"o", L"s", L"--stirct"}), {L"warning: ignoring extra argument '--stirct" + extra + L"; did you mean --strict?"}, {}},
      {false, Args({L"-S", L"--quiet", L"-R", L"--digets", L"m.xml", L"o", L"s"}), {}, {}},  // values, not options
      {false, Args({L"--digest=sha256", L"--jobs=2", L"--text=t.xml", L"m.xml", L"o", L"s"}), {}, {}},
      {false, Args({L"--jobs=0", L"--strict=yes", L"--text=a", L"--text", L"b"}), {}, {L"--jobs needs a whole number of at least 1, not '0'", L"--strict takes no value", L"--text is given twice"}},
      {false, Args({L"--package", L"o", L"s"}), {L"warning: '--package' is not an option; it is read as the input file"}, {}},
      {true, Args({L"--verify", L"a.p7", L"--package=dir", L"--json=-", L"--jobs=3"}), {}, {}},
      {true, Args({L"--verify", L"a.p7", L"--pakage", L"dir"}), {}, {L"unknown option for --verify: --pakage; did you mean --package?", L"unexpected argument: dir"}},
      {true, Args({L"--verify", L"a.p7", L"--digest", L"sha256"}), {}, {L"unknown option for --verify: --digest", L"unexpected argument: sha256"}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(CommandLineText(c.args)));
    const CommandLine cl = c.verify ? ParseVerifyArguments(c.args) : ParseArguments(c.args);
    EXPECT_EQ(c.warnings, cl.warnings);
    EXPECT_EQ(c.errors, cl.usageErrors);
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
