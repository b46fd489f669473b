// verify/package_hashes.cc: the package's files through manifest/'s
// ordered parallel hasher, grouped by the digests they want.
#include "verify/package_hashes.h"

#include <fcntl.h>

#include <cerrno>
#include <map>
#include <new>

#include "base/file_io.h"
#include "base/hex_text.h"
#include "digest/digest_algorithm.h"
#include "manifest/file_digests.h"

namespace brevick {
namespace {

using Wanted = std::array<bool, static_cast<std::size_t>(DigestKind::kCount)>;

// The SHA-2 algorithm of each digest kind; kMd2 (no algorithm) for MD5,
// which the digest set asks for on its own.
constexpr std::array<DigestAlgorithm, static_cast<std::size_t>(DigestKind::kCount)> kShaAlgorithms =
    {DigestAlgorithm::kMd2, DigestAlgorithm::kSha256, DigestAlgorithm::kSha384,
     DigestAlgorithm::kSha512};
static_assert(kShaAlgorithms.size() == static_cast<std::size_t>(DigestKind::kCount));

constexpr auto kMd5Index = static_cast<std::size_t>(DigestKind::kMd5);

// MD5 only when wanted; the first SHA-2 digest as the set's extra digest and
// any others after it, in DigestKind order.
DigestSet DigestSetFor(const Wanted& wanted) {
  DigestSet set;
  set.md5 = wanted[kMd5Index];
  for (std::size_t kind = kMd5Index + 1; kind < wanted.size(); ++kind) {
    if (!wanted[kind]) continue;
    if (set.extraDigest == DigestAlgorithm::kMd2) {
      set.extraDigest = kShaAlgorithms[kind];
    } else {
      set.furtherDigests.push_back(kShaAlgorithms[kind]);
    }
  }
  return set;
}

// Why `path` cannot be opened as a regular file; 0 when it can.
int OpenError(const std::string& path) {
  FileDescriptor descriptor;
  return OpenRegularFile(AT_FDCWD, path, descriptor).error;
}

void Record(const FileDigests& digests, PackageFileHash& file) {
  switch (digests.outcome) {
    case FileHashOutcome::kHashed:
      break;
    case FileHashOutcome::kOutsideConfinement:  // not asked for here
    case FileHashOutcome::kUnreadable:
      // The hasher tells that a file could not be read, not why; the open
      // says why. A file that opens now failed in its read: an I/O error.
      file.error = OpenError(file.path);
      if (file.error == 0) file.error = EIO;
      return;
    case FileHashOutcome::kChanged:
      file.changedWhileRead = true;
      return;
    case FileHashOutcome::kOutOfMemory:
      throw std::bad_alloc();
  }
  std::size_t further = 0;
  bool extraTaken = false;
  for (std::size_t kind = 0; kind < file.wanted.size(); ++kind) {
    if (!file.wanted[kind]) continue;
    if (kind == kMd5Index) {
      file.hex[kind] = HexText(digests.md5);
    } else if (!extraTaken) {
      file.hex[kind] = HexText(digests.extra);
      extraTaken = true;
    } else {
      file.hex[kind] = HexText(digests.further.at(further++));
    }
  }
}

}  // namespace

void HashPackageFiles(std::vector<PackageFileHash>& files, int jobs) {
  // One hashing run per combination of digests, so that no file is hashed
  // with an algorithm it does not want; a package nearly always has one.
  std::map<Wanted, std::vector<std::size_t>> groups;
  for (std::size_t i = 0; i < files.size(); ++i) groups[files[i].wanted].push_back(i);
  for (const auto& [wanted, members] : groups) {
    if (wanted == Wanted{}) {
      for (const std::size_t i : members) files[i].error = OpenError(files[i].path);
      continue;
    }
    std::vector<std::string> paths;
    paths.reserve(members.size());
    for (const std::size_t i : members) paths.push_back(files[i].path);
    const std::vector<FileDigests> results = HashFiles(paths, DigestSetFor(wanted), jobs);
    for (std::size_t k = 0; k < members.size(); ++k) Record(results[k], files[members[k]]);
  }
}

}  // namespace brevick
