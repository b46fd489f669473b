// app/run.cc: banner, dispatch to exactly one mode, summary and exit code.
#include "app/run.h"

#include <new>
#include <optional>

#include "app/options.h"
#include "app/pipeline.h"
#include "app/standalone_modes.h"
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
// -P and -D included, is a usage error. Long options are not counted: they
// are no argument that -L could be given by mistake.
bool ListCertificatesArgumentsFit(const CommandLine& commandLine) {
  const bool hasStore = commandLine.settings.storeName.has_value();
  const std::size_t argCount = commandLine.plainArgumentCount;
  if (argCount > 2 && !hasStore) return false;
  if (argCount > 4 && hasStore) return false;
  return true;
}

bool RunsTheManifest(const CommandLine& commandLine) {
  return !commandLine.listCertificates && !commandLine.listStores;
}

// A dry run needs the manifest alone; a run also an output and a signer.
bool ManifestArgumentsFit(const RunSettings& settings) {
  if (settings.dryRun) return settings.infile.has_value();
  // A thumbprint names the certificate by itself; the subject may then go.
  const bool signerNamed = settings.certSubjectName || !settings.thumbprint.empty();
  return settings.infile && settings.outfile && signerNamed;
}

// Runs the chosen mode; false when the command line does not fit it.
bool Dispatch(const CommandLine& commandLine, std::string& preparedText) {
  const RunSettings& settings = commandLine.settings;
  if (commandLine.listCertificates) {
    if (!ListCertificatesArgumentsFit(commandLine)) return false;
    ListStores(true, settings.storeName);
  } else if (commandLine.listStores) {
    ListStores(false, settings.storeName);
  } else {
    if (!ManifestArgumentsFit(settings)) return false;
    ProcessManifest(*settings.infile, settings.outfile.value_or(L""), settings, &preparedText);
  }
  return true;
}

bool PrintSummary(bool quiet) {
  if (ErrorCount() == 0) {
    if (!quiet) {
      WriteLine(L"");
      WriteLine(L"Done");
    }
    return true;
  }
  WriteLine(L"");
  WriteLine(L"There were errors:");
  PrintErrorList();
  return false;
}

void UsageFailure() {
  PrintUsage();
  PointToHelp();
}

bool RunParsed(const CommandLine& commandLine, const std::vector<std::wstring>& args) {
  if (commandLine.valueOptionLast) PrintUsage();
  if (!commandLine.usageErrors.empty()) {
    for (const std::wstring& error : commandLine.usageErrors) NoticeLine(error);
    UsageFailure();
    return false;
  }
  const RunSettings& settings = commandLine.settings;
  // --quiet keeps to errors and warnings, whatever -P or -D asked for.
  SetVerbosity({settings.showProgress && !settings.quiet, settings.showDebug && !settings.quiet});
  EchoSettings(commandLine, args);
  if (RunsTheManifest(commandLine)) {
    for (const std::wstring& warning : commandLine.warnings) NoticeLine(warning);
  }
  std::string preparedText;
  try {
    if (!Dispatch(commandLine, preparedText)) {
      UsageFailure();
      return false;
    }
  } catch (const std::bad_alloc&) {
    RecordError(L"Out of memory");
  }
  const bool success = PrintSummary(settings.quiet);
  // The prepared manifest follows the report, byte for byte as it would be
  // signed; a reader that cannot take it all fails the run.
  if (settings.dryRun && settings.printText && !preparedText.empty() &&
      WriteBytes(preparedText) != 0) {
    return false;
  }
  return success;
}

}  // namespace

int ProgramEntry(const std::vector<std::wstring>& args) {
  try {
    if (const std::optional<int> exitCode = RunStandaloneMode(args)) return *exitCode;
    // Parsed before the banner, which --quiet leaves out; parsing prints
    // nothing, so the order of the lines is as it always was.
    const CommandLine commandLine = ParseArguments(args);
    if (!commandLine.settings.quiet) {
      for (const char* line : kBanner) WriteLineUtf8(line);
    }
    // There is no application framework to start on Linux, so the start-up
    // step that could fail on Windows always succeeds here.
    if (args.size() < 2) {
      WriteLine(L"Too few arguments. Minimum is 2.");
      UsageFailure();
      return kExitFailure;
    }
    return RunParsed(commandLine, args) ? kExitSuccess : kExitFailure;
  } catch (const std::bad_alloc&) {
    // Out of memory even outside the mode (in the summary, say): still no abort.
    return kExitFailure;
  }
}

bool Run(const std::vector<std::wstring>& args) {
  if (args.size() < 2) {
    WriteLine(L"Too few arguments. Minimum is 2.");
    UsageFailure();
    return false;
  }
  return RunParsed(ParseArguments(args), args);
}

}  // namespace brevick
