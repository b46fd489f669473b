// manifest/file_digests.cc: one read of each module file feeds every digest.
#include "manifest/file_digests.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <deque>
#include <memory>
#include <new>
#include <system_error>
#include <utility>

#include "digest/sha2.h"

namespace brevick {
namespace {

// Results a worker may run ahead of the reader, per worker: enough to keep
// every worker busy while the reader handles one slow file's successors.
constexpr std::size_t kResultsAheadPerWorker = 16;

constexpr std::array<std::wstring_view, 5> kHashFailureReasons = {
    L"",  // kHashed
    L"Check that it exists",
    L"The file changed while it was read",
    L"It lies outside the confined directories",
    L"Check that it exists",  // kOutOfMemory
};
static_assert(kHashFailureReasons.size() ==
                  static_cast<std::size_t>(FileHashOutcome::kOutOfMemory) + 1,
              "every hashing outcome has its reason");

bool IsInside(const std::string& resolved, const std::vector<std::string>& directories) {
  for (const std::string& directory : directories) {
    if (directory == "/") return true;
    if (resolved.size() > directory.size() && resolved.starts_with(directory) &&
        resolved[directory.size()] == '/')
      return true;
  }
  return false;
}

// The path the descriptor really opened, links followed; empty when unknown.
std::string OpenedPath(int fd) {
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  std::string target(PATH_MAX, '\0');
  const ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return std::string();
  target.resize(static_cast<std::size_t>(length));
  return target;
}

}  // namespace

std::wstring_view HashFailureReason(FileHashOutcome outcome) {
  return kHashFailureReasons[static_cast<std::size_t>(outcome)];
}

namespace {

// A file being hashed: opened, checked and stamped, then fed block by block.
struct FileUnderWay {
  explicit FileUnderWay(const DigestSet& digests)
      : wantsMd5(digests.md5), extra(digests.extraDigest) {
    for (const DigestAlgorithm algorithm : digests.furtherDigests) further.emplace_back(algorithm);
  }

  // Feeds every digest but MD5, which callers may feed two files at a time.
  void UpdateOthers(const std::uint8_t* bytes, std::size_t sizeInBytes) {
    extra.Update(bytes, sizeInBytes);
    for (Sha2& digest : further) digest.Update(bytes, sizeInBytes);
  }
  void Update(const std::uint8_t* bytes, std::size_t sizeInBytes) {
    if (wantsMd5) md5.Update(bytes, sizeInBytes);
    UpdateOthers(bytes, sizeInBytes);
  }

  FileDescriptor file;
  FileIdentity identity;
  FileStamp before;
  bool wantsMd5;
  Md5 md5;
  Sha2 extra;
  std::deque<Sha2> further;  // Sha2 does not move; a deque builds it in place
  std::uint64_t total = 0;   // bytes read so far
  bool atEnd = false;        // the last read came up short: nothing more to read
};

FileDigests Failed(FileHashOutcome outcome) {
  FileDigests result;
  result.outcome = outcome;
  return result;
}

// Opens the file for hashing; anything but kHashed means it cannot be hashed.
FileHashOutcome StartHashing(const std::string& openablePath, const FileHashOptions& options,
                             FileUnderWay& hashing) {
  const bool confined = !options.confinedDirectories.empty();
  if (confined) {
    // Checked before the open too, so that nothing outside is ever opened
    // (opening some devices has effects of its own).
    const std::unique_ptr<char, decltype(&std::free)> resolved(
        ::realpath(openablePath.c_str(), nullptr), &std::free);
    if (!resolved) return FileHashOutcome::kUnreadable;  // reported as any missing file
    if (!IsInside(resolved.get(), options.confinedDirectories))
      return FileHashOutcome::kOutsideConfinement;
  }
  const bool beneath = options.beneathDirectoryFd >= 0;
  const FileResult opened =
      beneath ? OpenRegularFileBeneath(options.beneathDirectoryFd, openablePath, hashing.file)
              : OpenRegularFile(AT_FDCWD, openablePath, hashing.file);
  if (beneath && opened.error == EXDEV) return FileHashOutcome::kOutsideConfinement;
  if (!opened.Ok()) return FileHashOutcome::kUnreadable;
  // A link swapped between the check and the open is caught here.
  if (confined && !IsInside(OpenedPath(hashing.file.Get()), options.confinedDirectories))
    return FileHashOutcome::kOutsideConfinement;
  if (ReadFileStamp(hashing.file.Get(), hashing.before) != 0) return FileHashOutcome::kUnreadable;
  // A file read in one block gains nothing from read-ahead advice.
  if (hashing.before.sizeInBytes > kHashReadBlockSizeInBytes)
    AdviseSequentialRead(hashing.file.Get());
  hashing.identity = opened.identity;
  return FileHashOutcome::kHashed;
}

// Reads the next block into `buffer`, setting `got` to its size; a short
// block is the file's last.
FileHashOutcome ReadNextBlock(FileUnderWay& hashing, const FileHashOptions& options,
                              std::span<std::uint8_t> buffer, std::atomic<std::uint64_t>* bytesRead,
                              std::size_t& got) {
  const ssize_t read = ReadFully(hashing.file.Get(), buffer.data(), buffer.size());
  if (read < 0) return FileHashOutcome::kUnreadable;
  got = static_cast<std::size_t>(read);
  hashing.total += got;
  if (bytesRead != nullptr) bytesRead->fetch_add(got);
  // Growing as it is read: stop here rather than follow it for ever.
  if (hashing.total > hashing.before.sizeInBytes) return FileHashOutcome::kChanged;
  // A block that brings the file to its size is its last: one read fewer per
  // file. Were the file longer now, its stamp at the end would tell.
  if (got < buffer.size() || (got > 0 && hashing.total == hashing.before.sizeInBytes))
    hashing.atEnd = true;
  if (options.afterBlock) options.afterBlock(hashing.total);
  return FileHashOutcome::kHashed;
}

// The digests of a file read to its end, if it stayed the same meanwhile.
FileDigests FinishHashing(FileUnderWay& hashing) {
  FileStamp after;
  if (ReadFileStamp(hashing.file.Get(), after) != 0) return Failed(FileHashOutcome::kUnreadable);
  if (after != hashing.before || hashing.total != hashing.before.sizeInBytes)
    return Failed(FileHashOutcome::kChanged);
  FileDigests result;
  result.extra = hashing.extra.Final();
  if (!hashing.extra.Ok()) return Failed(FileHashOutcome::kUnreadable);
  for (Sha2& digest : hashing.further) {
    result.further.push_back(digest.Final());
    if (!digest.Ok()) return Failed(FileHashOutcome::kUnreadable);
  }
  result.identity = hashing.identity;
  if (hashing.wantsMd5) result.md5 = hashing.md5.Final();
  result.sizeInBytes = hashing.total;
  result.outcome = FileHashOutcome::kHashed;
  return result;
}

}  // namespace

FileDigests HashFile(const std::string& openablePath, const FileHashOptions& options,
                     std::span<std::uint8_t> buffer, std::atomic<std::uint64_t>* bytesRead) {
  FileUnderWay hashing(options.digests);
  FileHashOutcome outcome = StartHashing(openablePath, options, hashing);
  while (outcome == FileHashOutcome::kHashed && !hashing.atEnd) {
    std::size_t got = 0;
    outcome = ReadNextBlock(hashing, options, buffer, bytesRead, got);
    if (outcome != FileHashOutcome::kHashed) break;
    hashing.Update(buffer.data(), got);
  }
  if (outcome != FileHashOutcome::kHashed) return Failed(outcome);
  return FinishHashing(hashing);
}

OrderedFileHasher::OrderedFileHasher(std::span<const std::string> filePaths,
                                     FileHashOptions hashOptions, int jobs)
    : paths(filePaths), options(std::move(hashOptions)) {
  const std::size_t workerCount =
      std::min<std::size_t>(static_cast<std::size_t>(std::max(jobs, 1)), paths.size());
  window = std::max<std::size_t>(1, workerCount * kResultsAheadPerWorker);
  slots.resize(std::min(window, paths.size()));
  window = std::max<std::size_t>(1, slots.size());
  // One file at a time when asked for one job; otherwise two per worker.
  lanesPerWorker = jobs <= 1 ? 1 : 2;
  workers.reserve(workerCount);
  for (std::size_t i = 0; i < workerCount; ++i) {
    try {
      workers.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      // Fewer threads than asked still hash every file; none at all cannot.
      if (workers.empty()) throw;
      break;
    }
  }
}

OrderedFileHasher::~OrderedFileHasher() {
  {
    const std::lock_guard lock(mutex);
    stopping = true;
  }
  roomFreed.notify_all();
  for (std::thread& worker : workers) worker.join();
}

// A file a worker has under way, with the block read from it and how much
// of that block is digested.
struct OrderedFileHasher::Lane {
  std::size_t index = 0;
  std::optional<FileUnderWay> hashing;  // engaged while a file is under way
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(kHashReadBlockSizeInBytes);
  std::size_t filled = 0;  // bytes of the buffer read
  std::size_t used = 0;    // bytes of those digested

  bool Busy() const { return hashing.has_value(); }
  std::size_t Waiting() const { return filled - used; }
  const std::uint8_t* Next() const { return buffer.data() + used; }
};

std::optional<std::size_t> OrderedFileHasher::Claim(bool wait) {
  std::unique_lock lock(mutex);
  if (wait) {
    roomFreed.wait(lock, [this] {
      return stopping || nextToClaim == paths.size() || nextToClaim < delivered + window;
    });
  }
  if (stopping || nextToClaim == paths.size() || nextToClaim >= delivered + window)
    return std::nullopt;
  return nextToClaim++;
}

void OrderedFileHasher::Publish(std::size_t index, FileDigests digests) {
  const std::lock_guard lock(mutex);
  slots[index % window] = std::move(digests);
  if (index == delivered) resultReady.notify_one();
}

void OrderedFileHasher::Close(Lane& lane, FileDigests digests) {
  lane.hashing.reset();
  lane.filled = lane.used = 0;
  Publish(lane.index, std::move(digests));
}

// A worker keeps up to `lanesPerWorker` files under way and digests them side
// by side wherever both have whole blocks read: MD5 leaves room in a core for
// a second chain. It waits for work only when it has none under way, so a
// file the reader waits for never waits behind a full window.
void OrderedFileHasher::Work() {
  std::vector<Lane> lanes(lanesPerWorker);
  const auto anyBusy = [&lanes] {
    return std::any_of(lanes.begin(), lanes.end(), [](const Lane& lane) { return lane.Busy(); });
  };
  for (;;) {
    for (Lane& lane : lanes) {
      while (!lane.Busy()) {
        const std::optional<std::size_t> index = Claim(!anyBusy());
        if (!index) break;
        lane.index = *index;
        FileHashOutcome outcome = FileHashOutcome::kOutOfMemory;
        try {
          lane.hashing.emplace(options.digests);
          outcome = StartHashing(paths[*index], options, *lane.hashing);
        } catch (const std::bad_alloc&) {
        }
        if (outcome != FileHashOutcome::kHashed) Close(lane, Failed(outcome));
      }
    }
    if (!anyBusy()) return;  // every file claimed, or stopping

    // Lanes whose block is all digested read the next one, or are done.
    for (Lane& lane : lanes) {
      if (!lane.Busy() || lane.Waiting() > 0) continue;
      try {
        if (lane.hashing->atEnd) {
          Close(lane, FinishHashing(*lane.hashing));
          continue;
        }
        std::size_t got = 0;
        const FileHashOutcome outcome =
            ReadNextBlock(*lane.hashing, options, lane.buffer, &bytesRead, got);
        if (outcome != FileHashOutcome::kHashed) {
          Close(lane, Failed(outcome));
          continue;
        }
        lane.filled = got;
        lane.used = 0;
      } catch (const std::bad_alloc&) {
        Close(lane, Failed(FileHashOutcome::kOutOfMemory));
      }
    }

    // Two lanes with whole blocks waiting go side by side; a lane alone, or
    // the short tail of a file, goes by itself.
    Lane* first = nullptr;
    Lane* second = nullptr;
    for (Lane& lane : lanes) {
      if (!lane.Busy() || lane.Waiting() == 0) continue;
      (first == nullptr ? first : second) = &lane;
    }
    if (first == nullptr) continue;
    std::size_t paired = 0;
    if (second != nullptr) {
      paired = std::min(first->Waiting(), second->Waiting()) / kMd5BlockSizeInBytes *
               kMd5BlockSizeInBytes;
    }
    if (paired > 0) {
      if (options.digests.md5) {
        Md5::UpdatePair(first->hashing->md5, first->Next(), second->hashing->md5, second->Next(),
                        paired);
      }
      for (Lane* lane : {first, second}) {
        lane->hashing->UpdateOthers(lane->Next(), paired);
        lane->used += paired;
      }
      continue;
    }
    for (Lane* lane : {first, second}) {
      if (lane == nullptr) continue;
      // With a partner, only a tail under a block goes alone: the rest waits
      // to be paired with the partner's next block.
      if (second != nullptr && lane->Waiting() >= kMd5BlockSizeInBytes) continue;
      lane->hashing->Update(lane->Next(), lane->Waiting());
      lane->used = lane->filled;
    }
  }
}

std::optional<FileDigests> OrderedFileHasher::Next(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex);
  if (delivered == paths.size()) return std::nullopt;
  std::optional<FileDigests>& slot = slots[delivered % window];
  if (!resultReady.wait_for(lock, wait, [&slot] { return slot.has_value(); })) return std::nullopt;
  std::optional<FileDigests> result;
  result.swap(slot);  // leaves the slot empty for the file that comes after
  ++delivered;
  lock.unlock();
  roomFreed.notify_all();
  return result;
}

std::vector<FileDigests> HashFiles(std::span<const std::string> paths, DigestSet digests,
                                   int jobs) {
  std::vector<FileDigests> results;
  results.reserve(paths.size());
  OrderedFileHasher hasher(paths, FileHashOptions{std::move(digests), {}, {}}, jobs);
  while (!hasher.Done()) {
    if (std::optional<FileDigests> next = hasher.Next(std::chrono::hours(1)))
      results.push_back(std::move(*next));
  }
  return results;
}

int AvailableCpuCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return std::max(1, CPU_COUNT(&set));
}

}  // namespace brevick
