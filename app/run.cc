// app/run.cc: banner, dispatch to exactly one mode, summary and exit code.
#include "app/run.h"

#include <new>
#include <optional>

#include "app/bannerless_modes.h"
#include "app/options.h"
#include "app/pipeline.h"
#include "app/store_listing.h"
#include "base/report.h"

namespace brevick {
namespace {

constexpr const char* kBanner[] = {
    "TCHAR > 1",
    "",
    "Manifest compilation utility",
    "Copyright (c) 2026 The Brevick developers",
    "===========================================",
};

// -L accepts only "-L" alone or with "-S storename"; anything else beside it,
// -P and -D included, is a usage error.
bool ListCertificatesArgumentsFit(const CommandLine& commandLine, std::size_t argCount) {
  const bool hasStore = commandLine.settings.storeName.has_value();
  if (argCount > 2 && !hasStore) return false;
  if (argCount > 4 && hasStore) return false;
  return true;
}

// Runs the chosen mode; false when the command line does not fit it.
bool Dispatch(const CommandLine& commandLine, std::size_t argCount) {
  const RunSettings& settings = commandLine.settings;
  if (commandLine.listCertificates) {
    if (!ListCertificatesArgumentsFit(commandLine, argCount)) return false;
    ListStores(true, settings.storeName);
  } else if (commandLine.listStores) {
    ListStores(false, settings.storeName);
  } else {
    // A thumbprint names the certificate by itself; the subject may then go.
    const bool signerNamed = settings.certSubjectName || !settings.thumbprint.empty();
    if (!settings.infile || !settings.outfile || !signerNamed) return false;
    ProcessManifest(*settings.infile, *settings.outfile, settings);
  }
  return true;
}

bool PrintSummary() {
  WriteLine(L"");
  if (ErrorCount() == 0) {
    WriteLine(L"Done");
    return true;
  }
  WriteLine(L"There were errors:");
  PrintErrorList();
  return false;
}

}  // namespace

int ProgramEntry(const std::vector<std::wstring>& args) {
  try {
    if (const std::optional<int> exitCode = RunBannerlessMode(args)) return *exitCode;
    for (const char* line : kBanner) WriteLineUtf8(line);
    // There is no application framework to start on Linux, so the start-up
    // step that could fail on Windows always succeeds here.
    return Run(args) ? kExitSuccess : kExitFailure;
  } catch (const std::bad_alloc&) {
    // Out of memory even outside the mode (in the summary, say): still no abort.
    return kExitFailure;
  }
}

bool Run(const std::vector<std::wstring>& args) {
  if (args.size() < 2) {
    WriteLine(L"Too few arguments. Minimum is 2.");
    PrintUsage();
    return false;
  }
  const CommandLine commandLine = ParseArguments(args);
  if (!commandLine.usageErrors.empty()) {
    for (const std::wstring& error : commandLine.usageErrors) NoticeLine(error);
    PrintUsage();
    return false;
  }
  SetVerbosity({commandLine.settings.showProgress, commandLine.settings.showDebug});
  EchoSettings(commandLine, args);
  try {
    if (!Dispatch(commandLine, args.size())) {
      PrintUsage();
      return false;
    }
  } catch (const std::bad_alloc&) {
    RecordError(L"Out of memory");
  }
  return PrintSummary();
}

}  // namespace brevick
