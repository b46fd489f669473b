// app/options.cc: option parsing for every mode, the usage text and the
// settings echo. One table holds the long options of all modes, so that a
// new option is one row, spelt the same way ("--name value" and
// "--name=value") wherever it applies.
#include "app/options.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>

#include "app/timestamping.h"
#include "base/file_io.h"
#include "base/hex_text.h"
#include "base/report.h"
#include "base/utf8.h"
#include "digest/digest_algorithm.h"
#include "pki/certificate_info.h"

namespace brevick {
namespace {

// Release scripts compare the usage text line by line, so it stays exactly
// as they know it: line 1 leaves out -D and line 6 lacks its closing
// parenthesis.
constexpr const wchar_t* kUsage[] = {
    L"usage: Brevick [-L -LS -P -S -R] infile outfile cert_subject_name",
    L"-L   List the available certificates in all system stores",
    L"-LS  List the available certificate system stores",
    L"-P   Show progress",
    L"-D   Show debug information",
    L"-S storename       Use a specific store (For listing or signing. Default is 'My'",
    L"-R rootdirectory   Specify the root directory for files usable with %SourceRoot%",
};

using OptionError = std::optional<std::wstring>;

const wchar_t* YesNo(bool flag) { return flag ? L"YES" : L"NO"; }

OptionError Set(bool& flag) {
  flag = true;
  return std::nullopt;
}

// An option that names one file may be given once: a second would silently
// win over the first.
OptionError SetOnce(std::optional<std::string>& field, std::wstring_view option,
                    const std::wstring& value) {
  if (field) return std::wstring(option) + L" is given twice";
  field = ToPathBytes(value);
  return std::nullopt;
}

OptionError SetOnce(std::optional<std::wstring>& field, std::wstring_view option,
                    const std::wstring& value) {
  if (field) return std::wstring(option) + L" is given twice";
  field = value;
  return std::nullopt;
}

OptionError Confine(CommandLine& c, const std::wstring& value) {
  // Resolved once here, so that a module file's real path can be compared
  // with it whatever links lead to either.
  const std::unique_ptr<char, decltype(&std::free)> resolved(
      ::realpath(OpenablePath(value).c_str(), nullptr), &std::free);
  if (!resolved) return L"--confine " + value + L": " + ToWide(FileErrorText(errno));
  struct stat status {};
  if (::stat(resolved.get(), &status) != 0 || !S_ISDIR(status.st_mode))
    return L"--confine " + value + L": " + ToWide(FileErrorText(ENOTDIR));
  c.settings.confinedDirectories.emplace_back(resolved.get());
  return std::nullopt;
}

OptionError Digest(CommandLine& c, const std::wstring& value) {
  const std::optional<DigestAlgorithm> digest = DigestByName(value);
  if (!digest) return L"--digest takes md2, sha256, sha384 or sha512, not '" + value + L"'";
  c.settings.digest = *digest;
  return std::nullopt;
}

OptionError Thumbprint(CommandLine& c, const std::wstring& value) {
  std::optional<std::vector<std::uint8_t>> thumbprint = ParseThumbprint(value);
  if (!thumbprint) {
    return L"--thumbprint takes a SHA-1 (40 hex digits) or SHA-256 (64) thumbprint, not '" + value +
           L"'";
  }
  c.settings.thumbprint = std::move(*thumbprint);
  return std::nullopt;
}

OptionError Signer(CommandLine& c, const std::wstring& value) {
  const std::optional<std::vector<std::uint8_t>> thumbprint = ParseThumbprint(value);
  if (!thumbprint || thumbprint->size() != kSha256ThumbprintSize)
    return L"--signer needs a SHA-256 thumbprint (64 hexadecimal digits): " + value;
  c.verify.pinnedSha256 = HexText(*thumbprint);
  return std::nullopt;
}

// Bounds of the CRL download settings: beyond them a value is a typo.
constexpr long kMaxCrlRounds = 100;
constexpr long kMaxCrlSeconds = 3600;

// --crl-retries, --crl-wait, --crl-timeout: digits only, within bounds.
OptionError CrlDownload(CommandLine& c, std::wstring_view name, const std::wstring& value) {
  const bool rounds = name == L"--crl-retries";
  const long least = name == L"--crl-wait" ? 0 : 1;
  const long most = rounds ? kMaxCrlRounds : kMaxCrlSeconds;
  long number = 0;
  bool valid = !value.empty() && value.size() <= 6;
  for (const wchar_t ch : value) {
    valid = valid && ch >= L'0' && ch <= L'9';
    if (valid) number = number * 10 + (ch - L'0');
  }
  if (!valid || number < least || number > most) {
    return std::wstring(name) + L" needs a whole number from " + std::to_wstring(least) + L" to " +
           std::to_wstring(most) + L", not '" + value + L"'";
  }
  if (rounds) {
    c.verify.crl.rounds = static_cast<int>(number);
  } else if (name == L"--crl-wait") {
    c.verify.crl.waitSeconds = number;
  } else {
    c.verify.crl.timeoutSeconds = number;
  }
  return std::nullopt;
}

// A long option: its name, whether it takes a value, the modes it belongs
// to, and what it sets. `apply` returns an error text for a value it cannot
// use.
struct LongOption {
  std::wstring_view name;
  bool takesValue;
  unsigned modes;
  OptionError (*apply)(CommandLine& c, const std::wstring& value);
};

constexpr unsigned kSigningAndVerify = kSigningRun | kVerifyMode;

// clang-format off
constexpr LongOption kLongOptions[] = {
    {L"--progress", false, kSigningRun,
     [](CommandLine& c, const std::wstring&) -> OptionError {
       c.settings.progressDisplay = true;
       return std::nullopt;
     }},
    {L"--no-progress", false, kSigningRun,
     [](CommandLine& c, const std::wstring&) -> OptionError {
       c.settings.progressDisplay = false;
       return std::nullopt;
     }},
    {L"--jobs", true, kSigningAndVerify,
     [](CommandLine& c, const std::wstring& value) -> OptionError {
       OptionError error = ReadJobCount(value, c.settings.jobs);
       c.verify.jobs = c.settings.jobs;
       return error;
     }},
    {L"--confine", true, kSigningRun, Confine},
    {L"--digest", true, kSigningRun, Digest},
    {L"--thumbprint", true, kSigningRun, Thumbprint},
    {L"--strict", false, kSigningAndVerify,
     [](CommandLine& c, const std::wstring&) -> OptionError {
       c.verify.strict = true;
       return Set(c.settings.strict);
     }},
    {L"--dry-run", false, kSigningRun,
     [](CommandLine& c, const std::wstring&) { return Set(c.settings.dryRun); }},
    {L"--print", false, kSigningRun,
     [](CommandLine& c, const std::wstring&) { return Set(c.settings.printText); }},
    {L"--text", true, kSigningRun,
     [](CommandLine& c, const std::wstring& value) {
       return SetOnce(c.settings.textPath, L"--text", value);
     }},
    {L"--quiet", false, kSigningRun,
     [](CommandLine& c, const std::wstring&) { return Set(c.settings.quiet); }},
    {L"--package", true, kVerifyMode,
     [](CommandLine& c, const std::wstring& value) {
       return SetOnce(c.verify.packageDirectory, L"--package", value);
     }},
    {L"--trust", true, kVerifyMode,
     [](CommandLine& c, const std::wstring& value) -> OptionError {
       c.verify.trustFiles.push_back(ToPathBytes(value));
       return std::nullopt;
     }},
    {L"--trust-store", true, kVerifyMode,
     [](CommandLine& c, const std::wstring& value) -> OptionError {
       c.verify.trustStores.push_back(value);
       return std::nullopt;
     }},
    {L"--signer", true, kVerifyMode, Signer},
    {L"--extract", true, kVerifyMode,
     [](CommandLine& c, const std::wstring& value) {
       return SetOnce(c.verify.extractPath, L"--extract", value);
     }},
    {L"--json", true, kVerifyMode,
     [](CommandLine& c, const std::wstring& value) {
       return SetOnce(c.jsonPath, L"--json", value);
     }},
    {L"--tsa-trust", true, kVerifyMode,
     [](CommandLine& c, const std::wstring& value) -> OptionError {
       c.verify.tsaTrustFiles.push_back(ToPathBytes(value));
       return std::nullopt;
     }},
    {L"--tsa-trust-store", true, kVerifyMode,
     [](CommandLine& c, const std::wstring& value) -> OptionError {
       c.verify.tsaTrustStores.push_back(value);
       return std::nullopt;
     }},
    {L"--require-timestamp", false, kVerifyMode,
     [](CommandLine& c, const std::wstring&) { return Set(c.verify.requireTimestamp); }},
    {L"--crl", true, kVerifyMode,
     [](CommandLine& c, const std::wstring& value) -> OptionError {
       c.verify.crl.files.push_back(ToPathBytes(value));
       return std::nullopt;
     }},
    {L"--crl-check", true, kVerifyMode,
     [](CommandLine& c, const std::wstring& value) -> OptionError {
       if (value != L"all") return L"--crl-check takes 'all', not '" + value + L"'";
       return Set(c.verify.crl.everyCertificate);
     }},
    {L"--crl-fetch", false, kVerifyMode,
     [](CommandLine& c, const std::wstring&) { return Set(c.verify.crl.fetch); }},
    {L"--crl-retries", true, kVerifyMode,
     [](CommandLine& c, const std::wstring& value) {
       return CrlDownload(c, L"--crl-retries", value);
     }},
    {L"--crl-wait", true, kVerifyMode,
     [](CommandLine& c, const std::wstring& value) {
       return CrlDownload(c, L"--crl-wait", value);
     }},
    {L"--crl-timeout", true, kVerifyMode,
     [](CommandLine& c, const std::wstring& value) {
       return CrlDownload(c, L"--crl-timeout", value);
     }},
    {L"--probe", false, kCertificatesMode,
     [](CommandLine& c, const std::wstring&) { return Set(c.probe); }},
    {L"--timestamp", true, kSigningRun,
     [](CommandLine& c, const std::wstring& value) {
       return ApplyTimestampOption(L"--timestamp", value, c.settings.timestamp);
     }},
    {L"--timestamp-digest", true, kSigningRun,
     [](CommandLine& c, const std::wstring& value) {
       return ApplyTimestampOption(L"--timestamp-digest", value, c.settings.timestamp);
     }},
    {L"--timestamp-retries", true, kSigningRun,
     [](CommandLine& c, const std::wstring& value) {
       return ApplyTimestampOption(L"--timestamp-retries", value, c.settings.timestamp);
     }},
    {L"--timestamp-wait", true, kSigningRun,
     [](CommandLine& c, const std::wstring& value) {
       return ApplyTimestampOption(L"--timestamp-wait", value, c.settings.timestamp);
     }},
    {L"--timestamp-timeout", true, kSigningRun,
     [](CommandLine& c, const std::wstring& value) {
       return ApplyTimestampOption(L"--timestamp-timeout", value, c.settings.timestamp);
     }},
};
// clang-format on

// "--name=value" is "--name" with its value; the name part of any argument.
std::wstring_view OptionName(std::wstring_view arg) {
  const std::size_t equals = arg.find(L'=');
  return equals == std::wstring_view::npos ? arg : arg.substr(0, equals);
}

const LongOption* FindLongOption(std::wstring_view name, unsigned modes) {
  for (const LongOption& option : kLongOptions) {
    if (option.name == name && (option.modes & modes) != 0) return &option;
  }
  return nullptr;
}

// Takes args[i] when it is a long option of `modes`, with its value; false
// leaves it to the mode's own rules.
bool TakeLongOption(const std::vector<std::wstring>& args, std::size_t& i, unsigned modes,
                    CommandLine& result) {
  const std::wstring& arg = args[i];
  if (!arg.starts_with(L"--")) return false;
  const std::wstring_view name = OptionName(arg);
  const LongOption* option = FindLongOption(name, modes);
  if (option == nullptr) return false;
  const bool inlineValue = name.size() < arg.size();
  std::wstring value;
  if (inlineValue) {
    if (!option->takesValue) {
      result.usageErrors.push_back(std::wstring(name) + L" takes no value");
      return true;
    }
    value = arg.substr(name.size() + 1);
  } else if (option->takesValue) {
    if (i + 1 == args.size()) {
      result.usageErrors.push_back(arg + L" needs a value");
      return true;
    }
    value = args[++i];
  }
  if (OptionError error = option->apply(result, value)) {
    result.usageErrors.push_back(std::move(*error));
  }
  return true;
}

// The signing run's rules (a fourth positional argument is ignored, a word
// that is no option is positional) stay, but the operator hears about each.
void TakePositional(CommandLine& result, const std::wstring& arg) {
  RunSettings& settings = result.settings;
  const wchar_t* readAs = nullptr;
  if (!settings.infile) {
    settings.infile = arg;
    readAs = L"the input file";
  } else if (!settings.outfile) {
    settings.outfile = arg;
    readAs = L"the output file";
  } else if (!settings.certSubjectName) {
    settings.certSubjectName = arg;
    readAs = L"the subject";
  }
  const std::wstring_view closeMatch = CloseLongOption(arg, kSigningRun);
  const std::wstring suggestion =
      closeMatch.empty() ? L"" : L"; did you mean " + std::wstring(closeMatch) + L"?";
  if (readAs == nullptr) {
    result.warnings.push_back(L"warning: ignoring extra argument '" + arg +
                              L"' (quote a subject that has blanks)" + suggestion);
  } else if (arg.starts_with(L"--")) {
    result.warnings.push_back(L"warning: '" + arg + L"' is not an option; it is read as " + readAs +
                              suggestion);
  }
}

// Levenshtein distance, enough for option names of a few letters.
std::size_t EditDistance(std::wstring_view a, std::wstring_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// -L, -LS, -P, -D, and -R and -S with their value: the argument after them,
// whatever it is; standing last, they ask for the usage text and parsing
// goes on. False for any other argument.
bool TakeSingleDashOption(const std::vector<std::wstring>& args, std::size_t& i,
                          CommandLine& result) {
  RunSettings& settings = result.settings;
  const std::wstring& arg = args[i];
  if (arg == L"-L") {
    result.listCertificates = true;
  } else if (arg == L"-LS") {
    result.listStores = true;
  } else if (arg == L"-P") {
    settings.showProgress = true;
  } else if (arg == L"-D") {
    settings.showDebug = true;
    settings.showProgress = true;
  } else if (arg == L"-R" || arg == L"-S") {
    if (i + 1 == args.size()) {
      result.valueOptionLast = true;
    } else {
      (arg == L"-R" ? settings.rootDirectory : settings.storeName.emplace()) = args[++i];
      ++result.plainArgumentCount;
    }
  } else {
    return false;
  }
  ++result.plainArgumentCount;
  return true;
}

// The signing run's arguments that are no long option.
void TakeSigningWord(const std::vector<std::wstring>& args, std::size_t& i, CommandLine& result) {
  if (TakeSingleDashOption(args, i, result)) return;
  ++result.plainArgumentCount;
  TakePositional(result, args[i]);
}

// The verify mode's: its own option once, then the one SIGNED path.
void TakeVerifyWord(const std::wstring& arg, CommandLine& result) {
  if (arg == L"--verify" && !result.verifySeen) {
    result.verifySeen = true;
  } else if (arg.starts_with(L"--")) {
    const std::wstring_view closeMatch = CloseLongOption(arg, kVerifyMode);
    result.usageErrors.push_back(
        L"unknown option for --verify: " + arg +
        (closeMatch.empty() ? L"" : L"; did you mean " + std::wstring(closeMatch) + L"?"));
  } else if (result.signedPathSeen) {
    result.usageErrors.push_back(L"unexpected argument: " + arg);
  } else {
    result.signedPathSeen = true;
    result.verify.signedPath = ToPathBytes(arg);
  }
}

// The --certificates mode's: its own option, and -S STORE once.
void TakeCertificatesWord(const std::vector<std::wstring>& args, std::size_t& i,
                          CommandLine& result) {
  const std::wstring& arg = args[i];
  if (arg == L"--certificates") return;
  if (arg == L"-S" && i + 1 < args.size() && !result.settings.storeName) {
    result.settings.storeName = args[++i];
    return;
  }
  result.usageErrors.push_back(L"--certificates takes only -S STORE and --probe beside it, not '" +
                               arg + L"'");
}

// What can be judged only once every argument is read.
void FinishArguments(OptionMode mode, CommandLine& result) {
  if (mode == kSigningRun) {
    if (std::optional<std::wstring> problem = TimestampOptionsProblem(result.settings.timestamp))
      result.usageErrors.push_back(std::move(*problem));
  } else if (mode == kVerifyMode) {
    if (!result.signedPathSeen && result.usageErrors.empty())
      result.usageErrors.push_back(L"--verify needs SIGNED");
    if (result.jsonPath && *result.jsonPath != L"-")
      result.verify.reportPath = ToPathBytes(*result.jsonPath);
  }
}

}  // namespace

std::optional<std::wstring> ReadJobCount(const std::wstring& value, std::optional<int>& jobs) {
  // Digits only: "+2", " 2" and "2x" are refused like any other non-number.
  int count = 0;
  bool valid = !value.empty() && value.size() <= 6;
  for (const wchar_t ch : value) {
    if (ch < L'0' || ch > L'9') valid = false;
    if (valid) count = count * 10 + (ch - L'0');
  }
  if (!valid || count == 0)
    return L"--jobs needs a whole number of at least 1, not '" + value + L"'";
  jobs = count;
  return std::nullopt;
}

CommandLine ParseArguments(const std::vector<std::wstring>& args, OptionMode mode) {
  CommandLine result;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (TakeLongOption(args, i, mode, result)) continue;
    if (mode == kVerifyMode) {
      TakeVerifyWord(args[i], result);
    } else if (mode == kCertificatesMode) {
      TakeCertificatesWord(args, i, result);
    } else {
      TakeSigningWord(args, i, result);
    }
  }
  FinishArguments(mode, result);
  return result;
}

std::vector<std::wstring_view> LongOptionNames() {
  std::vector<std::wstring_view> names;
  for (const LongOption& option : kLongOptions) names.push_back(option.name);
  return names;
}

std::wstring_view CloseLongOption(std::wstring_view arg, unsigned modes) {
  if (!arg.starts_with(L"--") || arg.size() < 4) return {};
  const std::wstring_view name = OptionName(arg);
  std::wstring_view best;
  std::size_t bestDistance = 3;  // more edits than two is another word
  for (const LongOption& option : kLongOptions) {
    if ((option.modes & modes) == 0) continue;
    const std::size_t distance = EditDistance(name, option.name);
    if (distance < bestDistance) {
      best = option.name;
      bestDistance = distance;
    }
  }
  return best;
}

void PrintUsage() {
  for (const wchar_t* line : kUsage) WriteLine(line);
}

void PointToHelp() { NoticeLine(L"see 'brevick --help' for every mode and option"); }

std::wstring CommandLineText(const std::vector<std::wstring>& args) {
  std::wstring text;
  for (const std::wstring& arg : args) {
    text += arg;
    text += L' ';
  }
  return text;
}

void EchoSettings(const CommandLine& commandLine, const std::vector<std::wstring>& args) {
  const RunSettings& settings = commandLine.settings;
  DebugLine(L"Command Line: " + CommandLineText(args));
  DebugLine(L"File root directory: " + settings.rootDirectory);
  DebugLine(std::wstring(L"List certificate stores:") + YesNo(commandLine.listStores));
  DebugLine(std::wstring(L"List certificates:") + YesNo(commandLine.listCertificates));
  DebugLine(L"Store:" + settings.storeName.value_or(L"Default"));
  DebugLine(std::wstring(L"Show Progress:") + YesNo(settings.showProgress));
  DebugLine(L"");
  // The echo stays as scripts know it; what only long options set goes to
  // standard error.
  if (settings.showDebug && settings.timestamp.Wanted())
    NoticeLine(TimestampSettingsText(settings.timestamp));
}

}  // namespace brevick
