// app/run_settings.h: the run settings, filled once from the command line and
// read by every stage until the process ends.
#pragma once

#include <optional>
#include <string>

namespace brevick {

inline constexpr wchar_t kDefaultRootDirectory[] = L".";

struct RunSettings {
  // Absent differs from empty: "-S ''" names the empty store, which the echo
  // shows as "Store:" where an absent one shows "Store:Default".
  std::optional<std::wstring> infile;
  std::optional<std::wstring> outfile;
  std::optional<std::wstring> cert_subject_name;
  std::optional<std::wstring> storename;
  std::wstring rootdirectory = kDefaultRootDirectory;
  bool showProgress = false;  // -P or -D
  bool showDebug = false;     // -D
};

// The process-wide settings. Written by the command-line parsing only; tests
// and fuzz targets assign a fresh RunSettings to start over.
RunSettings& Settings();

}  // namespace brevick
