// manifest/file_hasher.cc: one read of each module file feeds every digest.
#include "manifest/file_hasher.h"

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

// Results a thread may run ahead of Next, per lane: enough to keep every
// lane busy while Next's caller handles one slow file's successors.
constexpr std::size_t kResultsAheadPerLane = 4;

// Each lane reads its file this much at a time: with sixteen lanes a
// thread's buffers (512 KiB) stay in its core's second-level cache between
// the read that copies them in and the digests that read them.
constexpr std::size_t kWideLaneReadSizeInBytes = 32 * 1024;
constexpr std::size_t kNarrowLaneReadSizeInBytes = 64 * 1024;

// When SHA-2 digests are taken too, lanes go forward this much at a time:
// SHA-2 then reads from the first-level cache what MD5 has just read, rather
// than read the whole buffer again from further away.
constexpr std::size_t kSliceSizeInBytes = 2 * 1024;

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
// Made once per lane and restarted for every file, so that a new file
// allocates nothing.
struct FileUnderWay {
  explicit FileUnderWay(const DigestSet& digests)
      : wantsMd5(digests.md5), extra(digests.extraDigest) {
    for (const DigestAlgorithm algorithm : digests.furtherDigests) further.emplace_back(algorithm);
  }

  void Restart() {
    md5 = Md5();
    extra.Restart();
    for (Sha2& digest : further) digest.Restart();
    total = 0;
    atEnd = false;
  }

  // Feeds every digest but MD5, which callers may feed several files at a time.
  void UpdateOthers(const std::uint8_t* bytes, std::size_t sizeInBytes) {
    extra.Update(bytes, sizeInBytes);
    for (Sha2& digest : further) digest.Update(bytes, sizeInBytes);
  }
  void Update(const std::uint8_t* bytes, std::size_t sizeInBytes) {
    if (wantsMd5) md5.Update(bytes, sizeInBytes);
    UpdateOthers(bytes, sizeInBytes);
  }
  // The digests but MD5 by number: the extra one, then the further ones.
  std::size_t OtherCount() const { return 1 + further.size(); }
  Sha2& Other(std::size_t number) { return number == 0 ? extra : further[number - 1]; }

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

// Opens the file for hashing and takes its identity and stamp; anything but
// kHashed means it cannot be hashed.
FileHashOutcome OpenModuleFile(const std::string& openablePath, const FileHashOptions& options,
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
  // The stamp comes from the open's own check: one system call fewer per file.
  const bool beneath = options.beneathDirectoryFd >= 0;
  const FileResult opened =
      beneath ? OpenRegularFileBeneath(options.beneathDirectoryFd, openablePath, hashing.file,
                                       &hashing.before)
              : OpenRegularFile(AT_FDCWD, openablePath, hashing.file, &hashing.before);
  if (beneath && opened.error == EXDEV) return FileHashOutcome::kOutsideConfinement;
  if (!opened.Ok()) return FileHashOutcome::kUnreadable;
  // A link swapped between the check and the open is caught here.
  if (confined && !IsInside(OpenedPath(hashing.file.Get()), options.confinedDirectories))
    return FileHashOutcome::kOutsideConfinement;
  hashing.identity = opened.identity;
  return FileHashOutcome::kHashed;
}

// Opens the file and readies it for its first read.
FileHashOutcome StartHashing(const std::string& openablePath, const FileHashOptions& options,
                             FileUnderWay& hashing) {
  const FileHashOutcome outcome = OpenModuleFile(openablePath, options, hashing);
  if (outcome != FileHashOutcome::kHashed) return outcome;
  // A file read in a few blocks gains nothing from read-ahead advice.
  if (hashing.before.sizeInBytes > kHashReadBlockSizeInBytes)
    AdviseSequentialRead(hashing.file.Get());
  return FileHashOutcome::kHashed;
}

// Reads the next block into `buffer`, setting `got` to its size; a short
// block is the file's last.
FileHashOutcome ReadNextBlock(FileUnderWay& hashing, const FileHashOptions& options,
                              std::span<std::uint8_t> buffer, std::atomic<std::uint64_t>* bytesRead,
                              std::size_t& got) {
  // No more than the file had when opened: a file read to that size needs no
  // read that finds its end, and one that grew meanwhile shows it in its
  // stamp. A file that reports no size (as /proc files do) is read in full
  // blocks and so found to grow past it.
  const std::uint64_t left = hashing.before.sizeInBytes - hashing.total;
  const std::size_t wanted =
      left == 0 ? buffer.size()
                : static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
  const ssize_t read = ReadFully(hashing.file.Get(), buffer.data(), wanted);
  if (read < 0) return FileHashOutcome::kUnreadable;
  got = static_cast<std::size_t>(read);
  hashing.total += got;
  if (bytesRead != nullptr) bytesRead->fetch_add(got, std::memory_order_relaxed);
  // Growing as it is read: stop here rather than follow it for ever.
  if (hashing.total > hashing.before.sizeInBytes) return FileHashOutcome::kChanged;
  if (got < wanted || hashing.total == hashing.before.sizeInBytes) hashing.atEnd = true;
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

// One thread's files under way, one per lane, each with its read buffer and
// how much of what was read is digested. Every round reads for the lanes
// that need bytes, ends the files read to their end, and digests the whole
// blocks all busy lanes have waiting side by side; a file's last partial
// block goes alone.
class OrderedFileHasher::Lanes {
 public:
  explicit Lanes(OrderedFileHasher& owner);

  // Claims a file for every idle lane; with `mayWait`, a thread with no file
  // under way waits for room in the window. Whether any lane has a file.
  bool Refill(bool mayWait);
  void Round() {
    ReadWhereNeeded();
    DigestSideBySide();
  }

 private:
  struct Lane {
    Lane(const DigestSet& digests, std::uint8_t* readBuffer)
        : hashing(digests), buffer(readBuffer) {}
    std::size_t Waiting() const { return filled - used; }
    const std::uint8_t* Next() const { return buffer + used; }

    FileUnderWay hashing;
    std::uint8_t* buffer;
    std::size_t index = 0;
    bool busy = false;
    std::size_t filled = 0;  // bytes of the buffer read
    std::size_t used = 0;    // bytes of those digested
  };

  bool AnyBusy() const;
  void Start(Lane& lane, std::size_t index);
  void ReadOrFinish(Lane& lane);
  void ReadWhereNeeded();
  void DigestSideBySide();
  void DigestBlocks(std::span<Lane* const> members, std::size_t sizeInBytes);
  static void DigestOther(std::span<Lane* const> members, std::size_t number,
                          std::size_t sizeInBytes);
  // Ends the lane's file with `digests` and frees the lane.
  void Close(Lane& lane, FileDigests digests);

  OrderedFileHasher& hasher;
  std::size_t readSizeInBytes;
  // One read buffer per lane, end to end, left uninitialised: a page is
  // resident only once a read has filled it, so lanes that only ever see
  // small files cost no memory for the rest.
  std::unique_ptr<std::uint8_t[]> buffers;
  std::deque<Lane> lanes;  // FileUnderWay does not move
};

OrderedFileHasher::Lanes::Lanes(OrderedFileHasher& owner)
    : hasher(owner),
      readSizeInBytes(LaneCount(owner.kernel) > 2 ? kWideLaneReadSizeInBytes
                                                  : kNarrowLaneReadSizeInBytes),
      buffers(std::make_unique_for_overwrite<std::uint8_t[]>(
          readSizeInBytes * static_cast<std::size_t>(LaneCount(owner.kernel)))) {
  for (int i = 0; i < LaneCount(owner.kernel); ++i)
    lanes.emplace_back(owner.options.digests, buffers.get() + readSizeInBytes * i);
}

bool OrderedFileHasher::Lanes::AnyBusy() const {
  return std::any_of(lanes.begin(), lanes.end(), [](const Lane& lane) { return lane.busy; });
}

bool OrderedFileHasher::Lanes::Refill(bool mayWait) {
  for (Lane& lane : lanes) {
    while (!lane.busy) {
      const std::optional<std::size_t> index = hasher.Claim(mayWait && !AnyBusy());
      if (!index) return AnyBusy();
      Start(lane, *index);
    }
  }
  return true;
}

void OrderedFileHasher::Lanes::Start(Lane& lane, std::size_t index) {
  lane.index = index;
  FileHashOutcome outcome = FileHashOutcome::kOutOfMemory;
  try {
    lane.hashing.Restart();
    outcome = StartHashing(hasher.paths[index], hasher.options, lane.hashing);
  } catch (const std::bad_alloc&) {
  }
  if (outcome != FileHashOutcome::kHashed) {
    Close(lane, Failed(outcome));
    return;
  }
  lane.busy = true;
}

void OrderedFileHasher::Lanes::Close(Lane& lane, FileDigests digests) {
  lane.busy = false;
  lane.hashing.file.Close();
  lane.filled = lane.used = 0;
  hasher.Publish(lane.index, std::move(digests));
}

// A lane whose bytes are all digested reads its next block, or ends its file.
void OrderedFileHasher::Lanes::ReadOrFinish(Lane& lane) {
  if (lane.hashing.atEnd) {
    Close(lane, FinishHashing(lane.hashing));
    return;
  }
  std::size_t got = 0;
  const FileHashOutcome outcome = ReadNextBlock(
      lane.hashing, hasher.options, {lane.buffer, readSizeInBytes}, &hasher.bytesRead, got);
  if (outcome != FileHashOutcome::kHashed) {
    Close(lane, Failed(outcome));
    return;
  }
  lane.filled = got;
  lane.used = 0;
}

void OrderedFileHasher::Lanes::ReadWhereNeeded() {
  for (Lane& lane : lanes) {
    if (!lane.busy || lane.Waiting() > 0) continue;
    try {
      ReadOrFinish(lane);
    } catch (const std::bad_alloc&) {
      Close(lane, Failed(FileHashOutcome::kOutOfMemory));
    }
  }
}

// Lanes with whole blocks waiting go side by side as far as the shortest of
// them reaches; a file's last partial block goes alone, so that no lane ever
// waits for a block its file does not have.
void OrderedFileHasher::Lanes::DigestSideBySide() {
  Lane* members[kMd5MaxLanes];
  std::size_t count = 0;
  std::size_t blocks = SIZE_MAX;
  for (Lane& lane : lanes) {
    if (!lane.busy || lane.Waiting() == 0) continue;
    if (lane.Waiting() < kMd5BlockSizeInBytes) {
      lane.hashing.Update(lane.Next(), lane.Waiting());
      lane.used = lane.filled;
      continue;
    }
    members[count++] = &lane;
    blocks = std::min(blocks, lane.Waiting() / kMd5BlockSizeInBytes);
  }
  if (count == 0) return;
  const std::size_t sizeInBytes = blocks * kMd5BlockSizeInBytes;
  const DigestSet& digests = hasher.options.digests;
  const bool others =
      digests.extraDigest != DigestAlgorithm::kMd2 || !digests.furtherDigests.empty();
  const std::size_t slice = others ? kSliceSizeInBytes : sizeInBytes;
  for (std::size_t done = 0; done < sizeInBytes; done += slice)
    DigestBlocks({members, count}, std::min(slice, sizeInBytes - done));
}

// Feeds the next `sizeInBytes` (whole blocks) of every member's file to its
// digests: MD5 of all members at once, then each member's others while its
// bytes are still in the nearest cache.
void OrderedFileHasher::Lanes::DigestBlocks(std::span<Lane* const> members,
                                            std::size_t sizeInBytes) {
  if (hasher.options.digests.md5) {
    Md5* digests[kMd5MaxLanes];
    const std::uint8_t* starts[kMd5MaxLanes];
    for (std::size_t i = 0; i < members.size(); ++i) {
      digests[i] = &members[i]->hashing.md5;
      starts[i] = members[i]->Next();
    }
    Md5::UpdateLanes(hasher.kernel, {digests, members.size()}, {starts, members.size()},
                     sizeInBytes);
  }
  for (std::size_t number = 0; number < members[0]->hashing.OtherCount(); ++number)
    DigestOther(members, number, sizeInBytes);
  for (Lane* lane : members) lane->used += sizeInBytes;
}

// Feeds one of the digests but MD5 of every member: Brevick's own SHA-256
// several files side by side, OpenSSL's one file at a time.
void OrderedFileHasher::Lanes::DigestOther(std::span<Lane* const> members, std::size_t number,
                                           std::size_t sizeInBytes) {
  Sha256* own[kMd5MaxLanes];
  const std::uint8_t* starts[kMd5MaxLanes];
  std::size_t count = 0;
  for (Lane* lane : members) {
    Sha2& digest = lane->hashing.Other(number);
    if (Sha256* sha = digest.Own()) {
      own[count] = sha;
      starts[count++] = lane->Next();
    } else {
      digest.Update(lane->Next(), sizeInBytes);
    }
  }
  if (count > 0) Sha256::UpdateStreams({own, count}, {starts, count}, sizeInBytes);
}

OrderedFileHasher::OrderedFileHasher(std::span<const std::string> filePaths,
                                     FileHashOptions hashOptions, int jobs)
    : paths(filePaths), options(std::move(hashOptions)), kernel(ChosenMd5Kernel()) {
  const std::size_t threadCount =
      std::min<std::size_t>(static_cast<std::size_t>(std::max(jobs, 1)), paths.size());
  window = std::max<std::size_t>(
      1, threadCount * static_cast<std::size_t>(LaneCount(kernel)) * kResultsAheadPerLane);
  slots.resize(std::min(window, paths.size()));
  window = std::max<std::size_t>(1, slots.size());
  if (paths.empty()) return;
  ownLanes = std::make_unique<Lanes>(*this);
  // The caller of Next is the last of the jobs.
  workers.reserve(threadCount - 1);
  for (std::size_t i = 1; i < threadCount; ++i) {
    try {
      workers.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      break;  // fewer threads than asked still hash every file, Next's among
              // them
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

void OrderedFileHasher::Work() {
  try {
    Lanes lanes(*this);
    while (lanes.Refill(true)) lanes.Round();
  } catch (const std::bad_alloc&) {
    // Without its buffers this thread hashes nothing; Next's caller and the
    // other threads take every file.
  }
}

std::optional<FileDigests> OrderedFileHasher::TakeReady() {
  std::unique_lock lock(mutex);
  if (delivered == paths.size()) return std::nullopt;
  std::optional<FileDigests>& slot = slots[delivered % window];
  if (!slot) return std::nullopt;
  std::optional<FileDigests> result;
  result.swap(slot);  // leaves the slot empty for the file that comes after
  ++delivered;
  lock.unlock();
  roomFreed.notify_all();
  return result;
}

std::optional<FileDigests> OrderedFileHasher::WaitForReady(
    std::chrono::steady_clock::time_point deadline) {
  {
    std::unique_lock lock(mutex);
    if (delivered == paths.size()) return std::nullopt;
    const std::optional<FileDigests>& slot = slots[delivered % window];
    if (!resultReady.wait_until(lock, deadline, [&slot] { return slot.has_value(); }))
      return std::nullopt;
  }
  return TakeReady();
}

// Hashes here rather than wait: the file waited for is either in this
// thread's lanes or in another thread's, and only in the second case is
// there nothing better to do than wait.
std::optional<FileDigests> OrderedFileHasher::Next(std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (std::optional<FileDigests> ready = TakeReady()) return ready;
    if (Done()) return std::nullopt;
    if (!ownLanes->Refill(false)) return WaitForReady(deadline);
    ownLanes->Round();
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
  }
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
