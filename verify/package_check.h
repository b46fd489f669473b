// verify/package_check.h: the package's files against the digests of a
// signed manifest, and the files the manifest does not name.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "base/file_io.h"
#include "verify/package_hashes.h"
#include "verify/verify_report.h"

namespace brevick {

struct PackageCheck {
  std::string root;   // the package directory as given
  FileIdentity skip;  // the signed message: never extra
  int hashJobs = 1;   // files hashed at once (at least one)
};

// Fills `files` for the manifest `content` and the package directory. Every
// file is opened through the directory's descriptor and never leaves it:
// a path that leads out (through "..", an absolute path or a symbolic link,
// even one swapped in while the check runs) is reported as outside and
// never read. Files under the directory that no dependency names, except
// `check.skip`, are extra. Module files that `watched` lists are marked.
void CheckPackageFiles(std::span<const std::uint8_t> content, const PackageCheck& check,
                       VerifyReport::Files& files, WatchedFiles& watched);

}  // namespace brevick
