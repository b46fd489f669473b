// app/verify_mode.h: `brevick --verify SIGNED ...`, the recipient's check of
// a signed manifest, presented as text or JSON.
#pragma once

#include <string>
#include <vector>

namespace brevick {

// Exit code for a command line the verify mode cannot use.
inline constexpr int kExitVerifyUsage = 64;

// Runs the mode for `args` (program name first) and returns its exit code.
int RunVerifyMode(const std::vector<std::wstring>& args);

}  // namespace brevick
