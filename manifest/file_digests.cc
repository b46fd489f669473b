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

#include "manifest/sha2.h"

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

FileDigests HashFile(const std::string& openablePath, const FileHashOptions& options,
                     std::span<std::uint8_t> buffer, std::atomic<std::uint64_t>* bytesRead) {
  FileDigests result;
  const bool confined = !options.confinedDirectories.empty();
  if (confined) {
    // Checked before the open too, so that nothing outside is ever opened
    // (opening some devices has effects of its own).
    const std::unique_ptr<char, decltype(&std::free)> resolved(
        ::realpath(openablePath.c_str(), nullptr), &std::free);
    if (!resolved) return result;  // missing: reported as any missing file
    if (!IsInside(resolved.get(), options.confinedDirectories)) {
      result.outcome = FileHashOutcome::kOutsideConfinement;
      return result;
    }
  }
  FileDescriptor file;
  const FileResult opened = OpenRegularFile(AT_FDCWD, openablePath, file);
  if (!opened.Ok()) return result;
  // A link swapped between the check and the open is caught here.
  if (confined && !IsInside(OpenedPath(file.Get()), options.confinedDirectories)) {
    result.outcome = FileHashOutcome::kOutsideConfinement;
    return result;
  }
  FileStamp before;
  if (ReadFileStamp(file.Get(), before) != 0) return result;
  AdviseSequentialRead(file.Get());

  Md5 md5;
  Sha2 extra(options.digests.extraDigest);
  std::deque<Sha2> further;  // Sha2 does not move; a deque builds it in place
  for (const DigestAlgorithm algorithm : options.digests.furtherDigests)
    further.emplace_back(algorithm);
  std::uint64_t total = 0;
  for (;;) {
    const ssize_t got = ReadFully(file.Get(), buffer.data(), buffer.size());
    if (got < 0) return result;
    total += static_cast<std::uint64_t>(got);
    if (bytesRead != nullptr) bytesRead->fetch_add(static_cast<std::uint64_t>(got));
    if (total > before.sizeInBytes) {
      // Growing as it is read: stop here rather than follow it for ever.
      result.outcome = FileHashOutcome::kChanged;
      return result;
    }
    if (options.digests.md5) md5.Update(buffer.data(), static_cast<std::size_t>(got));
    extra.Update(buffer.data(), static_cast<std::size_t>(got));
    for (Sha2& digest : further) digest.Update(buffer.data(), static_cast<std::size_t>(got));
    if (options.afterBlock) options.afterBlock(total);
    if (static_cast<std::size_t>(got) < buffer.size()) break;  // the end of the file
  }
  FileStamp after;
  if (ReadFileStamp(file.Get(), after) != 0) return result;
  if (after != before || total != before.sizeInBytes) {
    result.outcome = FileHashOutcome::kChanged;
    return result;
  }
  result.extra = extra.Final();
  if (!extra.Ok()) return result;
  for (Sha2& digest : further) {
    result.further.push_back(digest.Final());
    if (!digest.Ok()) return result;
  }
  result.identity = opened.identity;
  if (options.digests.md5) result.md5 = md5.Final();
  result.sizeInBytes = total;
  result.outcome = FileHashOutcome::kHashed;
  return result;
}

OrderedFileHasher::OrderedFileHasher(std::span<const std::string> filePaths,
                                     FileHashOptions hashOptions, int jobs)
    : paths(filePaths), options(std::move(hashOptions)) {
  const std::size_t workerCount =
      std::min<std::size_t>(static_cast<std::size_t>(std::max(jobs, 1)), paths.size());
  window = std::max<std::size_t>(1, workerCount * kResultsAheadPerWorker);
  slots.resize(std::min(window, paths.size()));
  window = std::max<std::size_t>(1, slots.size());
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

void OrderedFileHasher::Work() {
  std::vector<std::uint8_t> buffer(kHashReadBlockSizeInBytes);
  std::unique_lock lock(mutex);
  for (;;) {
    roomFreed.wait(lock, [this] {
      return stopping || nextToClaim == paths.size() || nextToClaim < delivered + window;
    });
    if (stopping || nextToClaim == paths.size()) return;
    const std::size_t index = nextToClaim++;
    lock.unlock();
    FileDigests digests;
    try {
      digests = HashFile(paths[index], options, buffer, &bytesRead);
    } catch (const std::bad_alloc&) {
      digests.outcome = FileHashOutcome::kOutOfMemory;
    }
    lock.lock();
    slots[index % window] = std::move(digests);
    if (index == delivered) resultReady.notify_one();
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
