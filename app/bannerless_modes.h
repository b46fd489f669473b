// app/bannerless_modes.h: the modes that long options select (--version and
// the like). They print no banner and no classic summary, so they are picked
// before the classic run starts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevick {

// Runs the mode that `args` (program name first) selects and returns its exit
// code; nothing when no such mode is named and the classic run goes on.
std::optional<int> RunBannerlessMode(const std::vector<std::wstring>& args);

// The options that select these modes ("--help", ...), in precedence order.
std::vector<std::wstring_view> BannerlessModeOptions();

// "brevick " + the version, and the cryptography library it runs with.
void PrintVersion();

}  // namespace brevick
