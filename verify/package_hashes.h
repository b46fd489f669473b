// verify/package_hashes.h: hashing the files of a package for comparison
// with the digests a manifest holds. One function, so that a faster hasher
// can take its place without touching the callers.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "verify/verify_report.h"

namespace brevick {

struct PackageFileHash {
  std::string path;  // an openable path (already checked to lie inside the package)
  std::array<bool, static_cast<std::size_t>(DigestKind::kCount)> wanted{};
  // Filled in:
  int error = 0;  // 0, an errno value or kNotRegularFile
  std::array<std::string, static_cast<std::size_t>(DigestKind::kCount)> hex;  // lowercase
};

// Hashes every file with the algorithms it wants, one after another. Only
// regular files are read (a FIFO or device fails with kNotRegularFile at
// once); a file with no algorithm wanted is only opened.
void HashPackageFiles(std::vector<PackageFileHash>& files);

}  // namespace brevick
