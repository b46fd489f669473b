// verify/package_hashes.h: hashing the files of a package for comparison
// with the digests a manifest holds, through the same parallel reader that
// signing uses, every file opened beneath the package directory's descriptor.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "verify/verify_report.h"

namespace brevick {

using WantedDigests = std::array<bool, static_cast<std::size_t>(DigestKind::kCount)>;

// Files that want the same digests, hashed in one run of the hasher so that
// no file is hashed with an algorithm it does not want.
struct PackageFileGroup {
  std::vector<std::string> paths;    // relative to the package directory, "/"-separated
  std::vector<std::size_t> entries;  // the report entry of each path
};

// Output paths that must not name a module file: each one met among the
// files opened is marked.
struct WatchedFiles {
  std::vector<FileIdentity> identities;
  std::vector<bool> met;  // one per identity
  void Note(const FileIdentity& identity);
};

// Hashes the group's files with `wanted`, `jobs` at a time (at least one),
// each read once whatever it wants, and fills in each entry: its status,
// the detail of a failure and the actual digests. Only regular files are
// read (a FIFO or device is unreadable at once); a path that leaves the
// package directory is `outside` and never read; with nothing wanted a file
// is only opened. Throws only std::bad_alloc.
void HashPackageFiles(const PackageFileGroup& group, const WantedDigests& wanted,
                      int packageDirectory, int jobs, std::vector<FileEntry>& entries,
                      WatchedFiles& watched);

}  // namespace brevick
