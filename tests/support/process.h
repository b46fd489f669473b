// tests/support/process.h: runs the built `brevick` as a child process.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace brevick::testing {

struct ProcessResult {
  std::string output;  // everything written to standard output
  std::string errors;  // everything written to standard error
  int exitCode = -1;   // -1 when the child did not exit normally (a crash)
};

struct ProcessOptions {
  std::string workingDirectory = {};                          // empty: inherit
  std::vector<std::pair<std::string, std::string>> env = {};  // set on top of ours
  long addressSpaceLimitBytes = 0;                            // 0: no limit
  // Where standard output goes: "" a file read into `output`, "-" closed,
  // anything else the file of that name (/dev/full, say).
  std::string standardOutput = {};
  // Standard error on a pseudo-terminal rather than a file; `errors` is what
  // the terminal received.
  bool errorsOnTerminal = false;
};

// The line on standard error after the usage text of a command line that
// cannot be used.
inline constexpr const char kHelpPointer[] =
    "brevick: see 'brevick --help' for every mode and option\n";

// Runs `brevick` with `args` (program name not included), stdin from /dev/null.
ProcessResult RunBrevick(const std::vector<std::string>& args, const ProcessOptions& options = {});

// Runs `command` in the shell, its output appended to dir/commands.log;
// throws std::runtime_error with the command and that log when it fails.
void Shell(const std::filesystem::path& dir, const std::string& command);

// Standard error without the lines a signing run writes on success or
// whatever else happens (certificate warnings, the signer's name), so that a
// test sees only what its own case adds. Works on CR LF lines too.
std::string WithoutSigningNotices(std::string errors);

// The banner every run starts with.
std::string Banner();
// The seven usage lines.
std::string UsageText();

}  // namespace brevick::testing
