// app/options.h: the command line read into the run settings, with one table
// of long options for every mode.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_settings.h"
#include "verify/verify.h"

namespace brevick {

// The modes a long option belongs to (a bit set). The signing run is what a
// command line that names no standalone mode does: sign a manifest (or
// check it, with --dry-run), or list with -L and -LS, read with the original
// single-dash options and positional arguments, between banner and summary.
enum OptionMode : unsigned {
  kSigningRun = 1,
  kVerifyMode = 2,        // --verify
  kCertificatesMode = 4,  // --certificates
};

// The mode flags live only inside the run flow; everything else is a setting.
struct CommandLine {
  RunSettings settings;
  bool listCertificates = false;  // -L
  bool listStores = false;        // -LS
  // -R or -S stood last: the usage text is printed (after the banner) and
  // the run goes on.
  bool valueOptionLast = false;
  // The arguments that are no long option (nor a long option's value),
  // the program name included: what the -L rule counts.
  std::size_t plainArgumentCount = 1;
  // What was wrong with long options ("--jobs 0", a missing value), one text
  // each; the run stops with a usage error before any mode starts.
  std::vector<std::wstring> usageErrors;
  // "warning: ..." texts about arguments taken otherwise than they may have
  // been meant, for standard error when the manifest is processed.
  std::vector<std::wstring> warnings;

  // The verify mode's.
  VerifyOptions verify;
  std::optional<std::wstring> jsonPath;
  bool verifySeen = false;
  bool signedPathSeen = false;
  bool probe = false;  // --certificates --probe
};

// Reads the arguments after the program name, left to right, for `mode`,
// through the one table of long options: an argument that is a long option
// of the mode is taken with its value ("--name value" or "--name=value").
// What any other argument is depends on the mode:
// - the signing run: -L, -LS, -P, -D, -R DIR and -S STORE match whole and
//   case-sensitively ("-l" is positional), the argument after -R or -S is
//   its value whatever it looks like, and every other one is positional;
// - --verify: the one SIGNED path; anything else is a usage error;
// - --certificates: -S STORE once; anything else is a usage error.
// Prints nothing.
CommandLine ParseArguments(const std::vector<std::wstring>& args, OptionMode mode = kSigningRun);

// Reads the value of --jobs, a whole number of at least 1 in digits only, into
// `jobs` (signing and verifying alike); the usage error when it is none.
std::optional<std::wstring> ReadJobCount(const std::wstring& value, std::optional<int>& jobs);

// The name of every long option the parser knows ("--jobs", ...), in table
// order: the help page, the man page and the completion must name each.
std::vector<std::wstring_view> LongOptionNames();

// The long option of `modes` closest in spelling to `arg` (its "=value" left
// out), when one is close enough to be a likely misspelling; else empty.
std::wstring_view CloseLongOption(std::wstring_view arg, unsigned modes);

// The seven usage lines, written whatever the output flags.
void PrintUsage();

// The line on standard error that follows the usage text of a command line
// that cannot be used.
void PointToHelp();

// Every argument, the program name included, each followed by one blank.
std::wstring CommandLineText(const std::vector<std::wstring>& args);

// The seven debug lines that echo the settings (the last one empty).
void EchoSettings(const CommandLine& commandLine, const std::vector<std::wstring>& args);

}  // namespace brevick
