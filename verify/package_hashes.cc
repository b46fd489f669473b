// verify/package_hashes.cc: the package's files through manifest/'s ordered
// parallel hasher, their results written straight into the report entries
// as they arrive, so that no second list of results is ever held.
#include "verify/package_hashes.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>

#include "base/hex_text.h"
#include "base/utf8.h"
#include "manifest/file_hasher.h"

namespace brevick {
namespace {

constexpr auto kMd5Index = static_cast<std::size_t>(DigestKind::kMd5);

// The SHA-2 algorithm of each digest kind; kMd2 (no algorithm) for MD5,
// which the digest set asks for on its own.
constexpr std::array<DigestAlgorithm, static_cast<std::size_t>(DigestKind::kCount)> kShaAlgorithms =
    {DigestAlgorithm::kMd2, DigestAlgorithm::kSha256, DigestAlgorithm::kSha384,
     DigestAlgorithm::kSha512};

// MD5 only when wanted; the first SHA-2 digest as the set's extra digest and
// any others after it, in DigestKind order.
DigestSet DigestSetFor(const WantedDigests& wanted) {
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

void MarkUnopened(int error, FileEntry& entry) {
  if (error == EXDEV) {
    entry.status = FileStatus::kOutside;
  } else if (error == ENOENT || error == ENOTDIR) {
    entry.status = FileStatus::kMissing;
  } else {
    entry.status = FileStatus::kUnreadable;
    entry.detail = FileErrorText(error);
  }
}

// Opens the file beneath the package only to learn what it is, or why it
// cannot be opened. Nothing is read.
int OpenOnly(int packageDirectory, const std::string& path, WatchedFiles& watched) {
  FileDescriptor file;
  const FileResult opened = OpenRegularFileBeneath(packageDirectory, path, file);
  if (opened.Ok()) watched.Note(opened.identity);
  return opened.error;
}

// The entry's digests, in DigestKind order as the set was made: MD5 on its
// own, then the extra digest, then the further ones.
void CompareDigests(const FileDigests& digests, FileEntry& entry) {
  entry.status = entry.digests.empty() ? FileStatus::kNoDigest : FileStatus::kOk;
  std::size_t further = 0;
  bool extraTaken = false;
  for (DigestComparison& digest : entry.digests) {
    if (digest.kind == DigestKind::kMd5) {
      digest.actual = HexText(digests.md5);
    } else if (!extraTaken) {
      digest.actual = HexText(digests.extra);
      extraTaken = true;
    } else {
      digest.actual = HexText(digests.further.at(further++));
    }
    if (digest.actual != digest.expected) entry.status = FileStatus::kDiffers;
  }
}

void Record(const FileDigests& digests, int packageDirectory, const std::string& path,
            FileEntry& entry, WatchedFiles& watched) {
  switch (digests.outcome) {
    case FileHashOutcome::kHashed:
      watched.Note(digests.identity);
      CompareDigests(digests, entry);
      return;
    case FileHashOutcome::kOutsideConfinement:
      entry.status = FileStatus::kOutside;
      return;
    case FileHashOutcome::kUnreadable: {
      // The hasher tells that a file could not be read, not why; the open
      // says why. A file that opens now failed in its read: an I/O error.
      const int error = OpenOnly(packageDirectory, path, watched);
      MarkUnopened(error == 0 ? EIO : error, entry);
      return;
    }
    case FileHashOutcome::kChanged:
      // Neither the old content nor the new one was seen whole: not a pass.
      entry.status = FileStatus::kUnreadable;
      entry.detail = ToUtf8(HashFailureReason(FileHashOutcome::kChanged));
      return;
    case FileHashOutcome::kOutOfMemory:
      throw std::bad_alloc();
  }
}

}  // namespace

void WatchedFiles::Note(const FileIdentity& identity) {
  for (std::size_t i = 0; i < identities.size(); ++i) {
    if (identities[i] == identity) met[i] = true;
  }
}

void HashPackageFiles(const PackageFileGroup& group, const WantedDigests& wanted,
                      int packageDirectory, int jobs, std::vector<FileEntry>& entries,
                      WatchedFiles& watched) {
  if (wanted == WantedDigests{}) {
    for (std::size_t i = 0; i < group.paths.size(); ++i) {
      FileEntry& entry = entries[group.entries[i]];
      const int error = OpenOnly(packageDirectory, group.paths[i], watched);
      if (error == 0) {
        entry.status = FileStatus::kNoDigest;
      } else {
        MarkUnopened(error, entry);
      }
    }
    return;
  }
  FileHashOptions options;
  options.digests = DigestSetFor(wanted);
  options.beneathDirectoryFd = packageDirectory;
  OrderedFileHasher hasher(group.paths, std::move(options), std::max(jobs, 1));
  for (std::size_t i = 0; !hasher.Done();) {
    const std::optional<FileDigests> digests = hasher.Next(std::chrono::hours(1));
    if (!digests) continue;
    Record(*digests, packageDirectory, group.paths[i], entries[group.entries[i]], watched);
    ++i;
  }
}

}  // namespace brevick
