// The command line: how each mode reads it through the one table of long
// options (what every argument became, and the warnings and usage errors it
// caused); exactly what each run of the built executable writes to standard
// output and standard error, and its exit code; and the documents that must
// name every option the command line knows.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/options.h"
#include "app/standalone_modes.h"
#include "base/report.h"
#include "base/utf8.h"
#include "pki/crypto_result.h"
#include "tests/support/signing_run.h"

namespace brevick::testing {
namespace {

// The program name, then `line` split at blanks; '' stands for an empty argument.
std::vector<std::wstring> Args(const std::string& line) {
  std::vector<std::wstring> args = {L"brevick"};
  std::istringstream words(line);
  for (std::string word; words >> word;) args.push_back(word == "''" ? L"" : ToWide(word));
  return args;
}

// What a parse set, as one line: only what differs from a fresh CommandLine.
std::string Described(const CommandLine& c) {
  const RunSettings& s = c.settings;
  const VerifyOptions& v = c.verify;
  std::string out;
  const auto add = [&out](bool given, const std::string& text) {
    if (given) out += (out.empty() ? "" : " ") + text;
  };
  const auto wide = [](const std::optional<std::wstring>& text) {
    return ToUtf8(text.value_or(L""));
  };
  add(s.infile.has_value(), "in=" + wide(s.infile));
  add(s.outfile.has_value(), "out=" + wide(s.outfile));
  add(s.certSubjectName.has_value(), "subject=" + wide(s.certSubjectName));
  add(s.storeName.has_value(), "store=" + wide(s.storeName));
  add(s.rootDirectory != L".", "root=" + ToUtf8(s.rootDirectory));
  add(s.showProgress, "-P");
  add(s.showDebug, "-D");
  add(c.listCertificates, "-L");
  add(c.listStores, "-LS");
  add(c.valueOptionLast, "last");
  add(c.plainArgumentCount != 1, "n=" + std::to_string(c.plainArgumentCount));
  add(s.jobs.has_value(), "jobs=" + std::to_string(s.jobs.value_or(0)));
  add(s.digest != DigestAlgorithm::kMd2, "digest=" + std::string(DigestName(s.digest)));
  add(!s.thumbprint.empty(), "thumbprint=" + std::to_string(s.thumbprint.size()));
  add(s.strict, "strict");
  add(c.signedPathSeen, "signed=" + v.signedPath);
  add(v.reportPath.has_value(), "report=" + v.reportPath.value_or(""));
  add(c.jsonPath.has_value(), "json=" + wide(c.jsonPath));
  add(v.strict, "verify-strict");
  add(v.jobs.has_value(), "verify-jobs=" + std::to_string(v.jobs.value_or(0)));
  add(v.crl.rounds != 3 || v.crl.waitSeconds != 10 || v.crl.timeoutSeconds != 30,
      "crl=" + std::to_string(v.crl.rounds) + "/" + std::to_string(v.crl.waitSeconds) + "/" +
          std::to_string(v.crl.timeoutSeconds));
  add(c.probe, "probe");
  for (const std::wstring& warning : c.warnings) add(true, "W[" + ToUtf8(warning) + "]");
  for (const std::wstring& error : c.usageErrors) add(true, "E[" + ToUtf8(error) + "]");
  return out;
}

constexpr OptionMode kSign = kSigningRun;
constexpr OptionMode kVerify = kVerifyMode;
constexpr OptionMode kList = kCertificatesMode;
const std::string kExtra = "' (quote a subject that has blanks)";

TEST(OptionsTest, EveryArgumentIsReadAsItsModeReadsIt) {
  const struct {
    OptionMode mode;
    std::string args, described;
  } cases[] = {
      // clang-format off
      {kSign, "in.xml -l CN=x extra", "in=in.xml out=-l subject=CN=x n=5 W[warning: ignoring extra argument 'extra" + kExtra + "]"},
      {kSign, "-S -P -R -D -R /src/", "store=-P root=/src/ n=7"},
      {kSign, "a -P b -S", "in=a out=b -P last n=5"},
      {kSign, "a -P b -R", "in=a out=b -P last n=5"},
      {kSign, "-LS -L -D -S ''", "store= -P -D -L -LS n=6"},
      {kSign, "-S --quiet -R --digets m.xml o s", "in=m.xml out=o subject=s store=--quiet root=--digets n=8"},
      {kSign, "m.xml out.p7 --digets sha256", "in=m.xml out=out.p7 subject=--digets n=5 W[warning: '--digets' is not an option; it is read as the subject; did you mean --digest?] W[warning: ignoring extra argument 'sha256" + kExtra + "]"},
      {kSign, "--dryrun m.xml", "in=--dryrun out=m.xml n=3 W[warning: '--dryrun' is not an option; it is read as the input file; did you mean --dry-run?]"},
      {kSign, "m.xml --frobnicate s", "in=m.xml out=--frobnicate subject=s n=4 W[warning: '--frobnicate' is not an option; it is read as the output file]"},
      {kSign, "m.xml o s --stirct", "in=m.xml out=o subject=s n=5 W[warning: ignoring extra argument '--stirct" + kExtra + "; did you mean --strict?]"},
      {kSign, "--package o s", "in=--package out=o subject=s n=4 W[warning: '--package' is not an option; it is read as the input file]"},
      {kSign, "--digest=sha256 --jobs=2 --strict m.xml", "in=m.xml n=2 jobs=2 digest=sha256 strict verify-strict verify-jobs=2"},
      {kSign, "--jobs 123456 --thumbprint 00112233445566778899AABBCCDDEEFF00112233", "jobs=123456 thumbprint=20 verify-jobs=123456"},
      {kSign, "--jobs=0 --strict=yes --text=a --text b", "E[--jobs needs a whole number of at least 1, not '0'] E[--strict takes no value] E[--text is given twice]"},
      {kSign, "--jobs=1234567 --jobs +2 --jobs", "E[--jobs needs a whole number of at least 1, not '1234567'] E[--jobs needs a whole number of at least 1, not '+2'] E[--jobs needs a value]"},
      {kSign, "--digest sha1 --thumbprint 0011", "E[--digest takes md2, sha256, sha384 or sha512, not 'sha1'] E[--thumbprint takes a SHA-1 (40 hex digits) or SHA-256 (64) thumbprint, not '0011']"},
      {kSign, "--confine /nonexistent-dir --confine /dev/null", "E[--confine /nonexistent-dir: No such file or directory] E[--confine /dev/null: Not a directory]"},
      {kSign, "--timestamp-wait 0 m.xml", "in=m.xml n=2 E[the --timestamp-* options need --timestamp URL]"},
      {kSign, "--timestamp ftp://127.0.0.1/tsa --timestamp-digest md2 --timestamp-retries 0", "E[--timestamp takes an http or https URL, not 'ftp://127.0.0.1/tsa'] E[--timestamp-digest takes sha256, sha384 or sha512, not 'md2'] E[--timestamp-retries needs a whole number from 1 to 100, not '0'] E[the --timestamp-* options need --timestamp URL]"},
      {kSign, "--timestamp http://h --timestamp-wait -1 --timestamp-timeout 0 --timestamp-retries 101", "E[--timestamp-wait needs a whole number from 0 to 3600, not '-1'] E[--timestamp-timeout needs a whole number from 1 to 3600, not '0'] E[--timestamp-retries needs a whole number from 1 to 100, not '101']"},
      {kVerify, "--verify a.p7 --package=dir --json=- --jobs=3 --strict --trust r.pem", "jobs=3 strict signed=a.p7 json=- verify-strict verify-jobs=3"},
      {kVerify, "a.p7 --verify --json out.json --extract x.xml --verify", "signed=a.p7 report=out.json json=out.json E[unknown option for --verify: --verify]"},
      {kVerify, "--verify a.p7 --pakage dir", "signed=a.p7 E[unknown option for --verify: --pakage; did you mean --package?] E[unexpected argument: dir]"},
      {kVerify, "--verify a.p7 --digest sha256 -S", "signed=a.p7 E[unknown option for --verify: --digest] E[unexpected argument: sha256] E[unexpected argument: -S]"},
      {kVerify, "--verify", "E[--verify needs SIGNED]"},
      {kVerify, "--verify --jobs 0", "E[--jobs needs a whole number of at least 1, not '0']"},
      {kVerify, "--verify a.p7 --signer 0011 --crl-check leaf", "signed=a.p7 E[--signer needs a SHA-256 thumbprint (64 hexadecimal digits): 0011] E[--crl-check takes 'all', not 'leaf']"},
      {kVerify, "--verify a.p7 --crl-check=all --crl-retries 100 --crl-wait 0 --crl-timeout 3600", "signed=a.p7 crl=100/0/3600"},
      {kVerify, "--verify a.p7 --crl-retries 0 --crl-wait 3601 --crl-timeout 0", "signed=a.p7 E[--crl-retries needs a whole number from 1 to 100, not '0'] E[--crl-wait needs a whole number from 0 to 3600, not '3601'] E[--crl-timeout needs a whole number from 1 to 3600, not '0']"},
      {kVerify, "--verify a.p7 --crl-retries 101 --crl-wait 1e3 --crl-timeout 0000010", "signed=a.p7 E[--crl-retries needs a whole number from 1 to 100, not '101'] E[--crl-wait needs a whole number from 0 to 3600, not '1e3'] E[--crl-timeout needs a whole number from 1 to 3600, not '0000010']"},
      {kList, "--certificates -S My --probe", "store=My probe"},
      {kList, "-S A --certificates -S B -P", "store=A E[--certificates takes only -S STORE and --probe beside it, not '-S'] E[--certificates takes only -S STORE and --probe beside it, not 'B'] E[--certificates takes only -S STORE and --probe beside it, not '-P']"},
      // clang-format on
  };
  for (const auto& c : cases) {
    const std::vector<std::wstring> args = Args(c.args);
    SCOPED_TRACE(c.args);
    ConsoleCapture console;
    EXPECT_EQ(c.described, Described(ParseArguments(args, c.mode)));
    EXPECT_EQ("", console.Text() + console.ErrorText());
  }
}

const std::string kUsage = UsageText();
const std::string kPointer = kHelpPointer;
// The verify mode's own usage lines follow its errors; their start is enough.
const std::string kVerifyUsage = "brevick: usage: brevick --verify SIGNED [--package DIR]";
const std::string kNoStores = "\nThere were errors:\nNo stores to display\n";
constexpr const char kHelp[] = "HELP";  // stands for the help page in the table

// Every run gets a home of its own with the stores My (one signer) and Root,
// so no test sees the user's certificate stores.
class CliTest : public SigningRunTest {
 protected:
  void SetUp() override { stores.AddStore("Root"); }
};

TEST_F(CliTest, EachCommandLinePrintsExactlyItsTextsAndExitCode) {
  const std::string b = Banner();
  const std::string noStore = "brevick: there is no certificate store '";
  const std::string in = "' in " + stores.StoresDirectory().string() + "\n";
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
  EXPECT_FALSE(std::filesystem::exists(Out()));
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
