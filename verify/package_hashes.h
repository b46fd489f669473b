// verify/package_hashes.h: hashing the files of a package for comparison
// with the digests a manifest holds, through the same parallel reader that
// signing uses.
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
  int error = 0;                  // 0, an errno value or kNotRegularFile
  bool changedWhileRead = false;  // it changed size or time while read: no digest
  std::array<std::string, static_cast<std::size_t>(DigestKind::kCount)> hex;  // lowercase
};

// Hashes every file with the algorithms it wants, `jobs` files at a time (at
// least one), each read once whatever it wants. Only regular files are read
// (a FIFO or device fails with kNotRegularFile at once); a file with no
// algorithm wanted is only opened. Each file's results land in its own entry,
// whatever order the files finish in. Throws only std::bad_alloc.
void HashPackageFiles(std::vector<PackageFileHash>& files, int jobs);

}  // namespace brevick
