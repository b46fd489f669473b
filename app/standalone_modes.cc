// app/standalone_modes.cc: picking the standalone mode a command line names,
// and running it.
#include "app/standalone_modes.h"

#include <algorithm>
#include <string_view>

#include "app/add_timestamp.h"
#include "app/help_text.h"
#include "app/options.h"
#include "app/run.h"
#include "app/store_listing.h"
#include "app/verify_mode.h"
#include "base/report.h"
#include "base/utf8.h"
#include "pki/crypto_result.h"

namespace brevick {
namespace {

// --certificates [-S STORE] [--probe]: nothing else may stand beside it.
int RunCertificateDetails(const std::vector<std::wstring>& args) {
  const CommandLine commandLine = ParseArguments(args, kCertificatesMode);
  if (!commandLine.usageErrors.empty()) {
    for (const std::wstring& error : commandLine.usageErrors) NoticeLine(error);
    PointToHelp();
    return kExitFailure;
  }
  return ListCertificateDetails(commandLine.settings.storeName, commandLine.probe) ==
                 StageResult::kGoOn
             ? kExitSuccess
             : kExitFailure;
}

struct StandaloneMode {
  std::wstring_view option;  // the argument that selects it, anywhere on the line
  int (*run)(const std::vector<std::wstring>& args);
};

// In order of precedence: the first whose option appears wins.
constexpr StandaloneMode kModes[] = {
    {L"--help",
     [](const std::vector<std::wstring>&) {
       PrintHelp();
       return kExitSuccess;
     }},
    {L"--version",
     [](const std::vector<std::wstring>&) {
       PrintVersion();
       return kExitSuccess;
     }},
    {L"--verify", RunVerifyMode},
    {L"--add-timestamp", RunAddTimestampMode},
    {L"--certificates", RunCertificateDetails},
};

}  // namespace

std::optional<int> RunStandaloneMode(const std::vector<std::wstring>& args) {
  for (const StandaloneMode& mode : kModes) {
    if (std::find(args.begin() + (args.empty() ? 0 : 1), args.end(), mode.option) != args.end()) {
      return mode.run(args);
    }
  }
  return std::nullopt;
}

std::vector<std::wstring_view> StandaloneModeOptions() {
  std::vector<std::wstring_view> options;
  for (const StandaloneMode& mode : kModes) options.push_back(mode.option);
  return options;
}

void PrintVersion() {
  WriteLineUtf8("brevick " BREVICK_VERSION);
  WriteLineUtf8(CryptoLibraryVersion());
}

}  // namespace brevick
