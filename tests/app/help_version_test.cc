// --help and --version through the built executable, and the documents that
// must name every option the command line knows.
#include <gtest/gtest.h>

#include "app/bannerless_modes.h"
#include "app/options.h"
#include "base/utf8.h"
#include "pki/crypto_result.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace brevick::testing {
namespace {

class HelpVersionTest : public ::testing::Test {
 protected:
  ProcessResult Run(const std::vector<std::string>& args) {
    return RunBrevickAtHome(home.Path(), args);
  }
  TempDir home;
};

std::string HelpPage() {
  static const std::string page = [] {
    TempDir home;
    return RunBrevick({"--help"}, {home.Path().string(), {{"HOME", home.Path().string()}}, 0})
        .output;
  }();
  return page;
}

TEST_F(HelpVersionTest, VersionNamesTheProjectVersionAndTheCryptoLibrary) {
  const ProcessResult result = Run({"--version"});
  EXPECT_EQ("brevick " BREVICK_VERSION "\n" + CryptoLibraryVersion() + "\n", result.output);
  EXPECT_EQ("", result.errors);
  EXPECT_EQ(0, result.exitCode);
  EXPECT_TRUE(std::string(BREVICK_VERSION).starts_with("1.1."));
}

TEST_F(HelpVersionTest, HelpWinsWhereverItStandsAndPrintsNoBanner) {
  const std::vector<std::string> cases[] = {
      {"--help"},
      {"-L", "--help"},                          // beside a classic mode
      {"in.xml", "out.p7", "Signer", "--help"},  // a whole signing line: nothing is signed
      {"--version", "--help"},                   // --help comes first in precedence
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const ProcessResult result = Run(args);
    EXPECT_EQ(HelpPage(), result.output);
    EXPECT_EQ("", result.errors);
    EXPECT_EQ(0, result.exitCode);
  }
  EXPECT_FALSE(std::filesystem::exists(home.Path() / "out.p7"));
}

TEST_F(HelpVersionTest, DashHStaysAPositionalArgumentAsInTheClassicCommandLine) {
  // "-h" and "-help" have always been a manifest path; only --help is new.
  for (const char* arg : {"-h", "-help", "-H"}) {
    SCOPED_TRACE(arg);
    const ProcessResult result = Run({arg});
    EXPECT_EQ(Banner() + UsageText(), result.output);
    EXPECT_EQ(kHelpPointer, result.errors);
    EXPECT_EQ(1, result.exitCode);
  }
}

// Whether `option` stands as a word of its own in the shell script `text`.
bool NamedInScript(const std::string& text, const std::string& option) {
  const auto isBoundary = [](char c) {
    return std::string_view(" \t\n\"()|").find(c) != std::string_view::npos;
  };
  for (std::size_t at = text.find(option); at != std::string::npos;
       at = text.find(option, at + 1)) {
    const std::size_t end = at + option.size();
    if ((at == 0 || isBoundary(text[at - 1])) && (end == text.size() || isBoundary(text[end])))
      return true;
  }
  return false;
}

// A long option that the help page, the man page or the completion leaves out
// is one that users never find.
TEST(OptionDocumentationTest, EveryOptionTheCommandLineKnowsIsDocumented) {
  std::vector<std::string> options = {"-L", "-LS", "-P", "-D", "-S", "-R"};
  for (const std::wstring_view name : LongOptionNames()) options.push_back(ToUtf8(name));
  for (const std::wstring_view name : BannerlessModeOptions()) options.push_back(ToUtf8(name));
  const std::string manPage = ReadFileBytes(BREVICK_SOURCE_DIR "/doc/brevick.1.scd");
  const std::string completion = ReadFileBytes(BREVICK_SOURCE_DIR "/completion/brevick.bash");
  for (const std::string& option : options) {
    SCOPED_TRACE(option);
    EXPECT_NE(std::string::npos, HelpPage().find("  " + option + " ")) << "--help";
    EXPECT_NE(std::string::npos, manPage.find("*" + option + "*")) << "the man page";
    EXPECT_TRUE(NamedInScript(completion, option)) << "the completion";
  }
}

}  // namespace
}  // namespace brevick::testing
