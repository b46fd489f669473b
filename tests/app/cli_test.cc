// The built executable's command line: exactly what each run writes to
// standard output and standard error, and its exit code; and the documents
// that must name every option the command line knows.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "app/options.h"
#include "app/standalone_modes.h"
#include "base/utf8.h"
#include "pki/crypto_result.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace brevick::testing {
namespace {

const std::string kUsage = UsageText();
const std::string kPointer = kHelpPointer;
// The verify mode's own usage lines follow its errors; their start is enough.
const std::string kVerifyUsage = "brevick: usage: brevick --verify SIGNED [--package DIR]";
const std::string kNoStores = "\nThere were errors:\nNo stores to display\n";
constexpr const char kHelp[] = "HELP";  // stands for the help page in the table

// Every run gets a home of its own with the stores My and Root, so no test
// sees the user's certificate stores.
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* store : {"My", "Root"}) std::filesystem::create_directories(Stores() / store);
  }
  std::filesystem::path Stores() const { return home.Path() / "data/brevick/certstores"; }
  ProcessResult Run(const std::vector<std::string>& args) {
    const std::string root = home.Path().string();
    return RunBrevick(args, {root, {{"HOME", root}, {"XDG_DATA_HOME", root + "/data"}}});
  }
  TempDir home;
};

TEST_F(CliTest, EachCommandLinePrintsExactlyItsTextsAndExitCode) {
  const std::string b = Banner();
  const std::string noStore = "brevick: there is no certificate store '";
  const std::string in = "' in " + Stores().string() + "\n";
  const std::string missing = "Failed to open missing.xml. No such file or directory\n";
  const std::string helpPage = Run({"--help"}).output;
  ASSERT_TRUE(helpPage.starts_with("brevick " BREVICK_VERSION ": signs package manifests"));
  ASSERT_TRUE(helpPage.ends_with("\nMore in brevick(1).\n"));
  const struct {
    std::vector<std::string> args;
    std::string output, errors;
    int exitCode;
  } cases[] = {
      // clang-format off
      {{}, b + "Too few arguments. Minimum is 2.\n" + kUsage, kPointer, 1},
      {{"-L", "-P"}, b + kUsage, kPointer, 1},  // -L tolerates nothing but -S and its value
      {{"-LS", "-L"}, b + kUsage, kPointer, 1},
      {{"-L", "-S"}, b + kUsage + kUsage, kPointer, 1},  // once from parsing, once from the dispatch
      {{"-L", "-S", "My", "x"}, b + kUsage, kPointer, 1},
      {{"in.xml", "out.p7"}, b + kUsage, kPointer, 1},
      {{"in.xml", "out.p7", "--digest", "sha256"}, b + kUsage, kPointer, 1},  // only a thumbprint stands for the subject
      {{"-P"}, b + kUsage, kPointer, 1},
      {{"-h"}, b + kUsage, kPointer, 1},  // a manifest path, as it always was
      {{"--quiet", "in.xml"}, kUsage, kPointer, 1},
      {{"--jobs=x", "in.xml", "out", "s"}, b + kUsage, "brevick: --jobs needs a whole number of at least 1, not 'x'\n" + kPointer, 1},
      {{"-L", "-S", "Missing"}, b + kNoStores, noStore + "Missing" + in, 1},
      {{"-LS", "-S", "my"}, b + kNoStores, noStore + "my" + in, 1},
      {{"-LS", "-P", "--quiet", "-S", "none"}, kNoStores, noStore + "none" + in, 1},
      {{"--quiet", "-LS"}, "Store 'My'\nStore 'Root'\n", "", 0},
      {{"-LS", "-P", "in.xml"}, b + "Store 'My'\nStore 'Root'\n\nDone\n", "", 0},
      {{"-S", "Root", "-L"}, b + "Store 'Root'\nStore contained 0 certificate(s)\n\nDone\n", "", 0},
      {{"-LS", "-D", "-S", ""}, b + "Command Line: " BREVICK_EXE " -LS -D -S  \nFile root directory: .\nList certificate stores:YES\nList certificates:NO\nStore:\nShow Progress:YES\n\nNo stores to display\n" + kNoStores, noStore + in, 1},
      {{"-D", "-R", "src", "-LS"}, b + "Command Line: " BREVICK_EXE " -D -R src -LS \nFile root directory: src\nList certificate stores:YES\nList certificates:NO\nStore:Default\nShow Progress:YES\n\nStore 'My'\nStore 'Root'\n\nDone\n", "", 0},
      {{"-P", "missing.xml", "out.p7", "CN=x", "-S"}, b + kUsage + "Reading manifest: missing.xml\n" + missing + "\nThere were errors:\n" + missing, "", 1},
      {{"--certificates", "-S", "My", "--probe", "-P"}, "", "brevick: --certificates takes only -S STORE and --probe beside it, not '-P'\n" + kPointer, 1},
      {{"--version"}, "brevick " BREVICK_VERSION "\n" + CryptoLibraryVersion() + "\n", "", 0},
      {{"--version", "--verify"}, "brevick " BREVICK_VERSION "\n" + CryptoLibraryVersion() + "\n", "", 0},
      {{"-L", "--help"}, kHelp, "", 0},
      {{"in.xml", "out.p7", "Signer", "--help"}, kHelp, "", 0},  // nothing is signed
      {{"--version", "--add-timestamp", "--help"}, kHelp, "", 0},
      {{"--verify"}, "", "brevick: --verify needs SIGNED\n" + kVerifyUsage, 64},
      {{"--verify", "a.p7", "--certificates"}, "", "brevick: unknown option for --verify: --certificates\n" + kVerifyUsage, 64},
      {{"--verify", "a.p7", "--jobs", "0", "--tsa-trust"}, "", "brevick: --jobs needs a whole number of at least 1, not '0'\nbrevick: --tsa-trust needs a value\n" + kVerifyUsage, 64},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ProcessResult result = Run(c.args);
    EXPECT_EQ(c.output == kHelp ? helpPage : c.output, result.output);
    EXPECT_EQ(c.errors,
              c.exitCode == 64 ? result.errors.substr(0, c.errors.size()) : result.errors);
    EXPECT_TRUE(c.exitCode != 64 || result.errors.ends_with(kPointer)) << result.errors;
    EXPECT_EQ(c.exitCode, result.exitCode);
  }
  EXPECT_FALSE(std::filesystem::exists(home.Path() / "out.p7"));
}

// A long option that the help page, the man page or the completion leaves out
// is one that users never find.
TEST_F(CliTest, EveryOptionTheCommandLineKnowsIsDocumented) {
  std::vector<std::string> options = {"-L", "-LS", "-P", "-D", "-S", "-R"};
  for (const std::wstring_view name : LongOptionNames()) options.push_back(ToUtf8(name));
  for (const std::wstring_view name : StandaloneModeOptions()) options.push_back(ToUtf8(name));
  const std::string helpPage = Run({"--help"}).output;
  const std::string manPage = ReadFileBytes(BREVICK_SOURCE_DIR "/doc/brevick.1.scd");
  const std::string completion = ReadFileBytes(BREVICK_SOURCE_DIR "/completion/brevick.bash");
  const auto endsWord = [&completion](std::size_t at) {
    return at >= completion.size() ||
           std::string_view(" \t\n\"()|").find(completion[at]) != std::string_view::npos;
  };
  for (const std::string& option : options) {
    SCOPED_TRACE(option);
    EXPECT_NE(std::string::npos, helpPage.find("  " + option + " ")) << "--help";
    EXPECT_NE(std::string::npos, manPage.find("*" + option + "*")) << "the man page";
    // A word of its own in the shell script, not a part of a longer option.
    bool word = false;
    for (std::size_t at = completion.find(option); at != std::string::npos && !word;
         at = completion.find(option, at + 1)) {
      word = (at == 0 || endsWord(at - 1)) && endsWord(at + option.size());
    }
    EXPECT_TRUE(word) << "the completion";
  }
}

}  // namespace
}  // namespace brevick::testing
