// manifest/file_hasher.h: the hasher: the digests of module files, read once
// each through one descriptor, one file or many at a time.
//
// A file is hashed only when it is a regular file that stays the same while
// it is read: its size and modification time are taken when it is opened and
// again at its end, and reading stops as soon as more bytes arrive than it
// had when opened. So a file rewritten meanwhile gets no digest of neither
// version, and a file that grows without end (or a /proc file that reports no
// size) ends in bounded time.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/file_io.h"
#include "digest/digest_algorithm.h"
#include "digest/md5.h"
#include "digest/md5_lanes.h"

namespace brevick {

// HashFile reads fastest through a buffer of this size; larger files get
// read-ahead advice.
inline constexpr std::size_t kHashReadBlockSizeInBytes = 256 * 1024;

// What the digests of a file are taken for: MD5 unless `md5` is false, one
// more digest when `extraDigest` is not kMd2 (kMd2 meaning no extra digest),
// and each of `furtherDigests` after it, for a check against a manifest that
// holds several SHA-2 digests of one file.
struct DigestSet {
  DigestAlgorithm extraDigest = DigestAlgorithm::kMd2;
  bool md5 = true;
  std::vector<DigestAlgorithm> furtherDigests = {};
};

enum class FileHashOutcome {
  kHashed,
  kUnreadable,          // missing, not a regular file, or a failed open or read
  kChanged,             // changed size or time while read, or grew past its size
  kOutsideConfinement,  // resolves outside every confined directory
  kOutOfMemory,         // a worker could not allocate; the caller reports it
};

// What follows "Error generating MD5 for '<path>'. " for a file that was not
// hashed. A missing or unreadable file keeps the classic reason; so does a
// failed allocation, which callers report as the run's memory failure instead.
std::wstring_view HashFailureReason(FileHashOutcome outcome);

struct FileDigests {
  FileHashOutcome outcome = FileHashOutcome::kUnreadable;
  FileIdentity identity;                           // of the file opened
  std::uint64_t sizeInBytes = 0;                   // the bytes digested
  Md5Digest md5{};                                 // all zero when MD5 was not asked
  std::vector<std::uint8_t> extra;                 // the extra digest; empty when none was asked
  std::vector<std::vector<std::uint8_t>> further;  // one per DigestSet::furtherDigests
};

struct FileHashOptions {
  DigestSet digests;
  // Real paths (no links, no "..", no trailing slash) of the directories
  // every file must resolve inside; empty: files may lie anywhere.
  std::vector<std::string> confinedDirectories;
  // For tests: called after each block read with the bytes read so far.
  std::function<void(std::uint64_t)> afterBlock;
  // When set, every path is relative to this open directory and may not
  // leave it, links included (kOutsideConfinement); the check is the open
  // itself, so a link swapped meanwhile cannot lead it out.
  int beneathDirectoryFd = -1;
};

// Hashes one file, opened by `openablePath` (slashes, UTF-8; relative to
// FileHashOptions::beneathDirectoryFd when that is set), through
// `buffer` (any size above zero; kHashReadBlockSizeInBytes reads fastest).
// `bytesRead`, when given, is advanced by every block as it is read.
FileDigests HashFile(const std::string& openablePath, const FileHashOptions& options,
                     std::span<std::uint8_t> buffer,
                     std::atomic<std::uint64_t>* bytesRead = nullptr);

// Hashes a list of files on `jobs` threads (at least one) and hands the
// results out strictly in list order, whichever file finishes first.
//
// Each thread keeps several files under way (sixteen where the CPU has
// AVX-512, eight where it has AVX2, else two) and digests their MD5 side by
// side, one file per lane, taking a new file into a lane as soon as its file
// ends. The thread that calls Next is one of the `jobs`: while the result it
// waits for is not there, it hashes files itself, so one job means no other
// thread at all. Memory stays bounded whatever the list's length: a read
// buffer per lane, and threads wait when they run a fixed number of files
// ahead of Next.
class OrderedFileHasher {
 public:
  // `paths` must outlive the hasher.
  OrderedFileHasher(std::span<const std::string> paths, FileHashOptions options, int jobs);
  // Stops the other threads (files under way are finished first), joins them.
  ~OrderedFileHasher();
  OrderedFileHasher(const OrderedFileHasher&) = delete;
  OrderedFileHasher& operator=(const OrderedFileHasher&) = delete;

  // The next file's digests in list order, hashing or waiting for them at
  // most about `wait`; nothing when the time ran out first or every result
  // has been taken. Called from one thread only.
  std::optional<FileDigests> Next(std::chrono::milliseconds wait);
  // Whether every result has been taken.
  bool Done() const { return delivered == paths.size(); }
  // Bytes read so far by all threads, files under way included.
  std::uint64_t BytesRead() const { return bytesRead.load(std::memory_order_relaxed); }

 private:
  class Lanes;
  // A thread of its own: hashes until every file is claimed or the hasher stops.
  void Work();
  // The result for `delivered` if it is there, taken from its slot.
  std::optional<FileDigests> TakeReady();
  // Waits until the result for `delivered` is there or `deadline` passes.
  std::optional<FileDigests> WaitForReady(std::chrono::steady_clock::time_point deadline);
  // The next file's index to hash; when `wait`, waits for room in the window.
  std::optional<std::size_t> Claim(bool wait);
  void Publish(std::size_t index, FileDigests digests);

  std::span<const std::string> paths;
  FileHashOptions options;
  Md5Kernel kernel;                               // the MD5 kernel every thread uses
  std::size_t window;                             // how far threads may run ahead of Next
  std::vector<std::optional<FileDigests>> slots;  // results by index % window
  std::size_t nextToClaim = 0;
  std::size_t delivered = 0;
  bool stopping = false;
  std::mutex mutex;
  std::condition_variable resultReady;
  std::condition_variable roomFreed;
  std::atomic<std::uint64_t> bytesRead{0};
  std::unique_ptr<Lanes> ownLanes;  // the files Next hashes itself
  std::vector<std::thread> workers;
};

// The digests of every file, in the order of `paths`, hashed on `jobs`
// threads. For callers that need all results at once, such as a check of a
// package against its manifest.
std::vector<FileDigests> HashFiles(std::span<const std::string> paths, DigestSet digests, int jobs);

// The number of CPUs this process may run on (at least one): the default for
// the number of hashing jobs.
int AvailableCpuCount();

}  // namespace brevick
