// app/options.cc: option parsing, the usage text and the settings echo.
#include "app/options.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>

#include "app/timestamping.h"
#include "base/file_io.h"
#include "base/report.h"
#include "base/utf8.h"
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

void TakePositional(RunSettings& settings, const std::wstring& arg) {
  if (!settings.infile) {
    settings.infile = arg;
  } else if (!settings.outfile) {
    settings.outfile = arg;
  } else if (!settings.certSubjectName) {
    settings.certSubjectName = arg;
  }
  // A fourth and later positional argument is ignored without a word.
}

const wchar_t* YesNo(bool flag) { return flag ? L"YES" : L"NO"; }

// A long option: its name, whether the next argument is its value, and what
// it sets. `apply` returns an error text for a value it cannot use.
struct LongOption {
  std::wstring_view name;
  bool takesValue;
  std::optional<std::wstring> (*apply)(CommandLine& commandLine, const std::wstring& value);
};

constexpr LongOption kLongOptions[] = {
    {L"--progress", false,
     [](CommandLine& c, const std::wstring&) -> std::optional<std::wstring> {
       c.settings.progressDisplay = true;
       return std::nullopt;
     }},
    {L"--no-progress", false,
     [](CommandLine& c, const std::wstring&) -> std::optional<std::wstring> {
       c.settings.progressDisplay = false;
       return std::nullopt;
     }},
    {L"--jobs", true,
     [](CommandLine& c, const std::wstring& value) -> std::optional<std::wstring> {
       return ReadJobCount(value, c.settings.jobs);
     }},
    {L"--confine", true,
     [](CommandLine& c, const std::wstring& value) -> std::optional<std::wstring> {
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
     }},
    {L"--digest", true,
     [](CommandLine& c, const std::wstring& value) -> std::optional<std::wstring> {
       const std::optional<DigestAlgorithm> digest = DigestByName(value);
       if (!digest) return L"--digest takes md2, sha256, sha384 or sha512, not '" + value + L"'";
       c.settings.digest = *digest;
       return std::nullopt;
     }},
    {L"--thumbprint", true,
     [](CommandLine& c, const std::wstring& value) -> std::optional<std::wstring> {
       std::optional<std::vector<std::uint8_t>> thumbprint = ParseThumbprint(value);
       if (!thumbprint) {
         return L"--thumbprint takes a SHA-1 (40 hex digits) or SHA-256 (64) thumbprint, not '" +
                value + L"'";
       }
       c.settings.thumbprint = std::move(*thumbprint);
       return std::nullopt;
     }},
    {L"--strict", false,
     [](CommandLine& c, const std::wstring&) -> std::optional<std::wstring> {
       c.settings.strict = true;
       return std::nullopt;
     }},
    {L"--timestamp", true,
     [](CommandLine& c, const std::wstring& value) {
       return ApplyTimestampOption(L"--timestamp", value, c.settings.timestamp);
     }},
    {L"--timestamp-digest", true,
     [](CommandLine& c, const std::wstring& value) {
       return ApplyTimestampOption(L"--timestamp-digest", value, c.settings.timestamp);
     }},
    {L"--timestamp-retries", true,
     [](CommandLine& c, const std::wstring& value) {
       return ApplyTimestampOption(L"--timestamp-retries", value, c.settings.timestamp);
     }},
    {L"--timestamp-wait", true,
     [](CommandLine& c, const std::wstring& value) {
       return ApplyTimestampOption(L"--timestamp-wait", value, c.settings.timestamp);
     }},
    {L"--timestamp-timeout", true,
     [](CommandLine& c, const std::wstring& value) {
       return ApplyTimestampOption(L"--timestamp-timeout", value, c.settings.timestamp);
     }},
};

// Takes args[i] when it is a known long option, with its value; false leaves
// it to be a positional argument.
bool TakeLongOption(const std::vector<std::wstring>& args, std::size_t& i, CommandLine& result) {
  const std::wstring& arg = args[i];
  if (!arg.starts_with(L"--")) return false;
  for (const LongOption& option : kLongOptions) {
    if (arg != option.name) continue;
    std::wstring value;
    if (option.takesValue) {
      if (i + 1 == args.size()) {
        result.usageErrors.push_back(arg + L" needs a value");
        return true;
      }
      value = args[++i];
    }
    if (std::optional<std::wstring> error = option.apply(result, value)) {
      result.usageErrors.push_back(std::move(*error));
    }
    return true;
  }
  return false;
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

CommandLine ParseArguments(const std::vector<std::wstring>& args) {
  CommandLine result;
  RunSettings& settings = result.settings;
  for (std::size_t i = 1; i < args.size(); ++i) {
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
        PrintUsage();
        break;
      }
      (arg == L"-R" ? settings.rootDirectory : settings.storeName.emplace()) = args[++i];
    } else if (!TakeLongOption(args, i, result)) {
      TakePositional(settings, arg);
    }
  }
  if (std::optional<std::wstring> problem = TimestampOptionsProblem(settings.timestamp))
    result.usageErrors.push_back(std::move(*problem));
  return result;
}

std::vector<std::wstring_view> LongOptionNames() {
  std::vector<std::wstring_view> names;
  for (const LongOption& option : kLongOptions) names.push_back(option.name);
  return names;
}

void PrintUsage() {
  for (const wchar_t* line : kUsage) WriteLine(line);
}

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
  // The classic echo stays as it was; what only long options set goes to
  // standard error.
  if (settings.showDebug && settings.timestamp.Wanted())
    NoticeLine(TimestampSettingsText(settings.timestamp));
}

}  // namespace brevick
