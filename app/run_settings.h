// app/run_settings.h: the run settings, filled once from the command line.
// Only the command line and the modes read them; the layers below get what
// they need as parameters.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/timestamping.h"
#include "digest/digest_algorithm.h"

namespace brevick {

inline constexpr wchar_t kDefaultRootDirectory[] = L".";

struct RunSettings {
  // Absent differs from empty: "-S ''" names the empty store, which the echo
  // shows as "Store:" where an absent one shows "Store:Default".
  std::optional<std::wstring> infile;
  std::optional<std::wstring> outfile;
  std::optional<std::wstring> certSubjectName;
  std::optional<std::wstring> storeName;
  std::wstring rootDirectory = kDefaultRootDirectory;
  bool showProgress = false;  // -P or -D
  bool showDebug = false;     // -D

  // Reached only through long options ("--name"); absent from the echo.
  std::optional<bool>
      progressDisplay;  // --progress / --no-progress; absent: when stderr is a terminal
  // --jobs N: module files hashed at once; absent: the CPUs the process may run on.
  std::optional<int> jobs;
  // --confine DIR, each resolved to its real path; empty: module files anywhere.
  std::vector<std::string> confinedDirectories;
  DigestAlgorithm digest = DigestAlgorithm::kMd2;  // --digest NAME
  std::vector<std::uint8_t> thumbprint;            // --thumbprint HEX; empty: none
  // --strict: certificate warnings and recorded rule errors refuse signing.
  bool strict = false;
  bool quiet = false;      // --quiet: no banner, no "Done", no progress or debug lines
  bool dryRun = false;     // --dry-run: everything but signing and writing the output
  bool printText = false;  // --print: a dry run's text to standard output
  std::optional<std::wstring> textPath;  // --text FILE: a dry run's text to FILE
  TimestampSettings timestamp;           // --timestamp URL and its --timestamp-* options
};

}  // namespace brevick
