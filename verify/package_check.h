// verify/package_check.h: the package's files against the digests of a
// signed manifest, and the files the manifest does not name.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "base/file_io.h"
#include "verify/verify_report.h"

namespace brevick {

// Fills `files` for the manifest `content` and the package directory `root`.
// Paths that leave `root` (through "..", an absolute path or a symbolic link)
// are reported as outside and never opened. Files under `root` that no
// dependency names, except the file `skip` (the signed message), are extra.
// The files are hashed `hashJobs` at a time (at least one).
void CheckPackageFiles(std::span<const std::uint8_t> content, const std::string& root,
                       const FileIdentity& skip, int hashJobs, VerifyReport::Files& files);

}  // namespace brevick
