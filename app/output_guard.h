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

// The reason the file `name` in the open directory `directoryFd` may not be
// written, "" when it may. The check goes through the same descriptor that
// the write will use, so a directory swapped for a link meanwhile changes
// nothing. Links at the name are followed: a name that reaches a protected
// file by a symbolic or hard link is refused too. The directory is inside
// the stores when it, or any directory above it, is the stores directory or
// one of the stores (whatever links lead there).
std::wstring ProtectedOutputReason(int directoryFd, const std::string& name,
                                   const OutputGuard& guard);

// Records "Refusing to overwrite " + outfile + the reason and returns
// kOutputNotOpened when the output is protected; kGoOn otherwise.
StageResult RefuseProtectedOutput(const std::wstring& outfile, const ReplacementFile& target,
                                  const OutputGuard& guard);

}  // namespace brevick
