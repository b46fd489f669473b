// app/output_guard.h: the files a run depends on, which its output must
// never replace: the input manifest, the module files it hashed and
// everything in the certificate stores.
#pragma once

#include <string>
#include <vector>

#include "base/file_io.h"
#include "base/stage_result.h"

namespace brevick {

struct OutputGuard {
  std::wstring inputManifest;             // as given; empty: none
  std::vector<FileIdentity> moduleFiles;  // every module file hashed in this run
  std::string certStoresDirectory;        // as CertStoresDirectory() gives it; empty: none
};

// The reason the output path may not be written, "" when it may. Links are
// followed: a path that reaches a protected file by a symbolic or hard link
// is refused too. A path that does not exist yet is refused when its
// directory, links resolved, lies inside the stores directory.
std::wstring ProtectedOutputReason(const std::wstring& outfile, const OutputGuard& guard);

// Records "Refusing to overwrite " + path + the reason and returns
// kOutputNotOpened when the output is protected; kGoOn otherwise.
StageResult RefuseProtectedOutput(const std::wstring& outfile, const OutputGuard& guard);

}  // namespace brevick
