// app/standalone_modes.h: the modes that stand on their own: --help,
// --version, --verify, --add-timestamp and --certificates. Each is named by a
// long option anywhere on the line and prints no banner and no summary, so
// one is picked before the signing run starts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevick {

// Runs the mode that `args` (program name first) selects and returns its exit
// code; nothing when no such mode is named and the signing run goes on.
std::optional<int> RunStandaloneMode(const std::vector<std::wstring>& args);

// The options that select these modes ("--help", ...), in precedence order.
std::vector<std::wstring_view> StandaloneModeOptions();

// "brevick " + the version, and the cryptography library it runs with.
void PrintVersion();

}  // namespace brevick
