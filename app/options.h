// app/options.h: the command line read into the run settings.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_settings.h"

namespace brevick {

// The mode flags live only inside the run flow; everything else is a setting.
struct CommandLine {
  RunSettings settings;
  bool listCertificates = false;  // -L
  bool listStores = false;        // -LS
  // What was wrong with long options ("--jobs 0", a missing value), one text
  // each; the run stops with a usage error before any mode starts.
  std::vector<std::wstring> usageErrors;
};

// Reads the arguments after the program name, left to right. Options match
// whole and case-sensitively ("-l" is positional); the argument after -R or -S
// is its value whatever it looks like. -R or -S standing last prints the usage
// text and parsing simply ends, the run going on. An argument that starts
// with "--" and is a known long option is taken with its value, if it has
// one; any other stays a positional argument.
CommandLine ParseArguments(const std::vector<std::wstring>& args);

// Reads the value of --jobs, a whole number of at least 1 in digits only, into
// `jobs` (signing and verifying alike); the usage error when it is none.
std::optional<std::wstring> ReadJobCount(const std::wstring& value, std::optional<int>& jobs);

// The name of every long option the parser knows ("--jobs", ...), in table
// order: the help page, the man page and the completion must name each.
std::vector<std::wstring_view> LongOptionNames();

// The seven usage lines, written whatever the output flags.
void PrintUsage();

// Every argument, the program name included, each followed by one blank.
std::wstring CommandLineText(const std::vector<std::wstring>& args);

// The seven debug lines that echo the settings (the last one empty).
void EchoSettings(const CommandLine& commandLine, const std::vector<std::wstring>& args);

}  // namespace brevick
