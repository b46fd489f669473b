// base/file_io.cc: POSIX file access with EINTR and short transfers handled.
#include "base/file_io.h"

#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <linux/openat2.h>
#include <optional>

#include "base/utf8.h"

namespace brevick {
namespace {

constexpr std::size_t kFirstReadSizeInBytes = 64 * 1024;

// Checks what was opened: a directory opens fine for reading on Linux, and a
// FIFO or device would make a whole-file read wait or never end.
int RegularFileCheck(int fd, struct stat& status) {
  if (::fstat(fd, &status) != 0) return errno;
  if (S_ISDIR(status.st_mode)) return EISDIR;
  if (!S_ISREG(status.st_mode)) return kNotRegularFile;
  return 0;
}

int ReadToEnd(int fd, std::size_t expectedSizeInBytes, std::vector<std::uint8_t>& bytes) {
  bytes.assign(std::max<std::size_t>(expectedSizeInBytes + 1, kFirstReadSizeInBytes), 0);
  std::size_t used = 0;
  for (;;) {
    if (used == bytes.size()) {
      if (used > kMaxBlockSizeInBytes) return EFBIG;  // the file grew while being read
      bytes.resize(used * 2);
    }
    const ssize_t count = ::read(fd, bytes.data() + used, bytes.size() - used);
    if (count < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (count == 0) break;
    used += static_cast<std::size_t>(count);
  }
  if (used > kMaxBlockSizeInBytes) return EFBIG;
  // Shrinking the capacity would copy the whole file once more; the block
  // is at most one byte too large when the size held still.
  bytes.resize(used);
  return 0;
}

constexpr int kReadOnlyFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

int OpenAtRetrying(int dirFd, const char* name, int flags) {
  int fd;
  do {
    fd = ::openat(dirFd, name, flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int FailWith(int error) {
  errno = error;
  return -1;
}

// -1 with ENOSYS where the kernel has no openat2 (before Linux 5.6).
int OpenBeneathAt2(int dirFd, const std::string& path) {
  open_how how{};
  how.flags = static_cast<std::uint64_t>(kReadOnlyFlags);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  long fd;
  do {
    fd = ::syscall(SYS_openat2, dirFd, path.c_str(), &how, sizeof how);
  } while (fd < 0 && (errno == EINTR || errno == EAGAIN));
  return static_cast<int>(fd);
}

// A symbolic link met on the way counts as leaving the directory: this walk
// cannot tell where it leads without following it.
int LinkOrError(int dirFd, const std::string& name, int error) {
  struct stat status {};
  if ((error == ELOOP || error == ENOTDIR) &&
      ::fstatat(dirFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode))
    return EXDEV;
  return error;
}

// The walk for kernels without openat2: each directory on the way is opened
// from the one before it with O_NOFOLLOW.
int OpenBeneathByWalk(int dirFd, const std::string& path) {
  if (path.empty()) return FailWith(ENOENT);
  if (path.front() == '/') return FailWith(EXDEV);
  FileDescriptor current(::fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
  if (current.Get() < 0) return -1;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = path.find('/', start);
    const std::string name = path.substr(start, slash - start);
    if (name == "..") return FailWith(EXDEV);
    const bool last = slash == std::string::npos;
    if (name.empty() || name == ".") {
      if (last) return FailWith(EISDIR);
      start = slash + 1;
      continue;
    }
    const int flags =
        last ? kReadOnlyFlags | O_NOFOLLOW : O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    const int fd = OpenAtRetrying(current.Get(), name.c_str(), flags);
    if (fd < 0) return FailWith(LinkOrError(current.Get(), name, errno));
    if (last) return fd;
    current.Reset(fd);
    start = slash + 1;
  }
}

int WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t count = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (count < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<std::size_t>(count);
  }
  return 0;
}

// A file name may hold at most this many bytes on the file systems in use.
constexpr std::size_t kMaxFileNameBytes = 255;
// Exclusive creation retries this often with a fresh name before giving up.
constexpr int kMaxNameAttempts = 100;

// Six letters or digits, from the system's random source (the clock and the
// process as a fallback), for the name of a replacement file.
std::string RandomSuffix() {
  static constexpr std::string_view kLetters =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::array<std::uint8_t, 6> random{};
  if (::getrandom(random.data(), random.size(), GRND_NONBLOCK) !=
      static_cast<ssize_t>(random.size())) {
    static std::uint64_t counter = 0;
    std::uint64_t seed = static_cast<std::uint64_t>(::getpid()) * 0x9E3779B97F4A7C15u ^
                         static_cast<std::uint64_t>(std::time(nullptr)) ^ ++counter;
    for (std::uint8_t& byte : random) {
      seed = seed * 6364136223846793005u + 1442695040888963407u;
      byte = static_cast<std::uint8_t>(seed >> 56);
    }
  }
  std::string suffix;
  for (const std::uint8_t byte : random) suffix.push_back(kLetters[byte % kLetters.size()]);
  return suffix;
}

// The named new file of the one replacement under way, removed by the
// handler of SIGINT, SIGTERM and SIGHUP: the run that is stopped leaves no
// stray file in the output's directory. Only what a handler may touch.
volatile std::sig_atomic_t cleanupArmed = 0;
int cleanupDirectory = -1;
char cleanupName[kMaxFileNameBytes + 1];
struct sigaction previousActions[3];
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
bool unnamedFilesRefused = false;

void RemoveNamedFileAndStop(int signal) {
  if (cleanupArmed != 0) ::unlinkat(cleanupDirectory, cleanupName, 0);
  cleanupArmed = 0;
  for (std::size_t i = 0; i < std::size(kCleanupSignals); ++i) {
    if (kCleanupSignals[i] == signal) ::sigaction(signal, &previousActions[i], nullptr);
  }
  ::raise(signal);  // what the signal would have done without us
}

void InstallCleanupHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action {};
  action.sa_handler = RemoveNamedFileAndStop;
  ::sigemptyset(&action.sa_mask);
  for (const int signal : kCleanupSignals) ::sigaddset(&action.sa_mask, signal);
  for (std::size_t i = 0; i < std::size(kCleanupSignals); ++i) {
    ::sigaction(kCleanupSignals[i], nullptr, &previousActions[i]);
    // A signal ignored by whoever started us (nohup) stays ignored.
    if (previousActions[i].sa_handler != SIG_IGN) ::sigaction(kCleanupSignals[i], &action, nullptr);
  }
}

void ArmCleanup(int directoryFd, const std::string& name) {
  InstallCleanupHandlers();
  cleanupArmed = 0;
  cleanupDirectory = directoryFd;
  std::memcpy(cleanupName, name.c_str(), name.size() + 1);
  cleanupArmed = 1;
}

void DisarmCleanup() { cleanupArmed = 0; }

bool UnnamedFileRefused(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

int OpenUnnamed(int directoryFd) {
  if (unnamedFilesRefused) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return ::openat(directoryFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
}

}  // namespace

FileDescriptor::~FileDescriptor() {
  if (fd >= 0) ::close(fd);
}

int FileDescriptor::Close() {
  const int result = ::close(fd);
  fd = -1;
  return result == 0 ? 0 : errno;
}

void FileDescriptor::Reset(int newFd) {
  if (fd >= 0) ::close(fd);
  fd = newFd;
}

namespace {

FileStamp StampOf(const struct stat& status) {
  return {static_cast<std::uint64_t>(status.st_size),
          static_cast<std::int64_t>(status.st_mtim.tv_sec), status.st_mtim.tv_nsec};
}

FileResult CheckOpened(int fd, FileDescriptor& file, FileStamp* stamp) {
  file.Reset(fd);
  if (fd < 0) return {errno, false, 0, {}};
  struct stat status {};
  if (const int error = RegularFileCheck(fd, status); error != 0) return {error, false, 0, {}};
  if (stamp != nullptr) *stamp = StampOf(status);
  return {0, true, static_cast<std::uint64_t>(status.st_size), {status.st_dev, status.st_ino}};
}

}  // namespace

FileResult OpenRegularFile(int dirFd, const std::string& path, FileDescriptor& file,
                           FileStamp* stamp) {
  return CheckOpened(OpenAtRetrying(dirFd, path.c_str(), kReadOnlyFlags), file, stamp);
}

FileResult OpenRegularFileBeneath(int dirFd, const std::string& relativePath, FileDescriptor& file,
                                  FileStamp* stamp) {
  static std::atomic<bool> noOpenat2{false};
  int fd = -1;
  if (!noOpenat2.load(std::memory_order_relaxed)) {
    fd = OpenBeneathAt2(dirFd, relativePath);
    if (fd < 0 && errno == ENOSYS) noOpenat2.store(true, std::memory_order_relaxed);
  }
  if (noOpenat2.load(std::memory_order_relaxed)) fd = OpenBeneathByWalk(dirFd, relativePath);
  // RESOLVE_NO_MAGICLINKS refuses a /proc link with ELOOP: it leads out too.
  if (fd < 0 && errno == ELOOP) errno = LinkOrError(dirFd, relativePath, ELOOP);
  return CheckOpened(fd, file, stamp);
}

FileResult OpenRegularFileBeneathByWalk(int dirFd, const std::string& relativePath,
                                        FileDescriptor& file) {
  return CheckOpened(OpenBeneathByWalk(dirFd, relativePath), file, nullptr);
}

ssize_t ReadFully(int fd, std::uint8_t* buffer, std::size_t sizeInBytes) {
  std::size_t filled = 0;
  while (filled < sizeInBytes) {
    const ssize_t got = ::read(fd, buffer + filled, sizeInBytes - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  return static_cast<ssize_t>(filled);
}

int ReadFileStamp(int fd, FileStamp& stamp) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return errno;
  stamp = {static_cast<std::uint64_t>(status.st_size),
           static_cast<std::int64_t>(status.st_mtim.tv_sec), status.st_mtim.tv_nsec};
  return 0;
}

void AdviseSequentialRead(int fd) {
  if (::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL) != 0) {
    // Only advice: the read works the same without it.
  }
}

std::string FileErrorText(int error) {
  if (error == kNotRegularFile) return "Not a regular file";
  return std::strerror(error);
}

std::wstring ReadErrorMessage(const std::wstring& path, int error) {
  return L"Error reading in the file " + path + L" [" + ToWide(FileErrorText(error)) + L"]";
}

std::string OpenablePath(std::wstring_view path) {
  std::string utf8 = ToPathBytes(path);
  std::replace(utf8.begin(), utf8.end(), '\\', '/');
  return utf8;
}

FileResult ReadRegularFile(int dirFd, const std::string& path, std::vector<std::uint8_t>& bytes,
                           std::uint64_t maxSizeInBytes) {
  bytes.clear();
  FileDescriptor file;
  FileResult result = OpenRegularFile(dirFd, path, file);
  if (!result.Ok()) return result;
  if (result.sizeInBytes > std::min(maxSizeInBytes, kMaxBlockSizeInBytes))
    return {EFBIG, true, result.sizeInBytes, result.identity};
  if (const int error = ReadToEnd(file.Get(), static_cast<std::size_t>(result.sizeInBytes), bytes);
      error != 0 || bytes.size() > maxSizeInBytes) {
    bytes = {};
    return {error != 0 ? error : EFBIG, true, result.sizeInBytes, result.identity};
  }
  file.Close();  // a read-only descriptor has nothing left to lose on close
  return result;
}

FileResult ReadFirstLine(const std::string& path, std::size_t maxLineBytes, std::string& line) {
  line.clear();
  FileDescriptor file;
  FileResult result = OpenRegularFile(AT_FDCWD, path, file);
  if (!result.Ok()) return result;
  std::vector<std::uint8_t> head(maxLineBytes + 2);  // the line, CR and LF
  const ssize_t got = ReadFully(file.Get(), head.data(), head.size());
  if (got < 0) return {errno, true, result.sizeInBytes, result.identity};
  const auto end = head.begin() + got;
  const auto lineEnd = std::find(head.begin(), end, std::uint8_t{'\n'});
  line.assign(head.begin(), lineEnd);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > maxLineBytes) {
    line.clear();
    return {EFBIG, true, result.sizeInBytes, result.identity};
  }
  return result;
}

std::string ReplacementFileName(std::string_view outputName, std::string_view suffix) {
  constexpr std::string_view kMarker = ".brevick-";
  const std::size_t room = kMaxFileNameBytes - 1 - kMarker.size() - suffix.size();
  std::string name = ".";
  name += outputName.substr(0, std::min(outputName.size(), room));
  name += kMarker;
  name += suffix;
  return name;
}

ReplacementFile::~ReplacementFile() {
  if (!committed && !temporaryName.empty()) ::unlinkat(directory.Get(), temporaryName.c_str(), 0);
  if (!temporaryName.empty()) DisarmCleanup();
}

int ReplacementFile::OpenDirectory(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  directoryPath = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (path.empty()) return ENOENT;
  int fd;
  do {
    fd = ::open(directoryPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  directory.Reset(fd);
  if (name.empty() || name == "." || name == "..") return EISDIR;  // "dir/" names a directory
  return 0;
}

int ReplacementFile::Create() {
  // What stands at the path now decides whether it may be replaced at all.
  std::optional<mode_t> mode;
  struct stat current {};
  if (::fstatat(directory.Get(), name.c_str(), &current, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(current.st_mode)) return EISDIR;
    if (S_ISREG(current.st_mode)) {
      mode = current.st_mode & 07777;
    } else if (!S_ISLNK(current.st_mode)) {
      return kNotRegularFile;
    }
  } else if (errno != ENOENT) {
    return errno;
  }
  int fd = OpenUnnamed(directory.Get());
  if (fd < 0 && UnnamedFileRefused(errno)) {
    for (int attempt = 0; fd < 0; ++attempt) {
      temporaryName = ReplacementFileName(name, RandomSuffix());
      ArmCleanup(directory.Get(), temporaryName);
      fd = ::openat(directory.Get(), temporaryName.c_str(),
                    O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
      if (fd >= 0) break;
      const int error = errno;
      DisarmCleanup();
      temporaryName.clear();
      if ((error != EEXIST && error != EINTR) || attempt >= kMaxNameAttempts) return error;
    }
  }
  if (fd < 0) return errno;
  file.Reset(fd);
  if (mode && ::fchmod(fd, *mode) != 0) return errno;
  return 0;
}

int ReplacementFile::Write(std::span<const std::span<const std::uint8_t>> pieces) {
  for (const std::span<const std::uint8_t> piece : pieces) {
    if (const int error = WriteAll(file.Get(), piece); error != 0) return error;
  }
  return ::fsync(file.Get()) == 0 ? 0 : errno;
}

// Gives the unnamed file a name of its own, the last moment a kill could
// leave it behind; the signal handlers cover that moment.
int ReplacementFile::LinkUnderTemporaryName() {
  const std::string self = "/proc/self/fd/" + std::to_string(file.Get());
  for (int attempt = 0;; ++attempt) {
    temporaryName = ReplacementFileName(name, RandomSuffix());
    ArmCleanup(directory.Get(), temporaryName);
    int result =
        ::linkat(AT_FDCWD, self.c_str(), directory.Get(), temporaryName.c_str(), AT_SYMLINK_FOLLOW);
    // Without /proc, the descriptor itself (which needs a capability).
    if (result != 0 && errno == ENOENT)
      result = ::linkat(file.Get(), "", directory.Get(), temporaryName.c_str(), AT_EMPTY_PATH);
    if (result == 0) return 0;
    const int error = errno;
    DisarmCleanup();
    temporaryName.clear();
    if (error != EEXIST || attempt >= kMaxNameAttempts) return error;
  }
}

int ReplacementFile::Commit() {
  if (temporaryName.empty()) {
    if (const int error = LinkUnderTemporaryName(); error != 0) return error;
  }
  if (::renameat(directory.Get(), temporaryName.c_str(), directory.Get(), name.c_str()) != 0)
    return errno;
  committed = true;
  DisarmCleanup();
  temporaryName.clear();
  // Makes the rename durable. Some file systems cannot flush a directory;
  // the new file is in place either way.
  if (::fsync(directory.Get()) != 0) {
    // See above.
  }
  return 0;
}

void UseNamedTemporaryFilesOnly() { unnamedFilesRefused = true; }

int ReadAllFrom(int fd, std::vector<std::uint8_t>& bytes) {
  struct stat status {};
  if (::lseek(fd, 0, SEEK_SET) != 0 || ::fstat(fd, &status) != 0) return errno;
  if (static_cast<std::uint64_t>(status.st_size) > kMaxBlockSizeInBytes) return EFBIG;
  return ReadToEnd(fd, static_cast<std::size_t>(status.st_size), bytes);
}

FileResult ReplaceFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  const std::span<const std::uint8_t> pieces[] = {bytes};
  return ReplaceFile(path, pieces);
}

FileResult ReplaceFile(const std::string& path,
                       std::span<const std::span<const std::uint8_t>> pieces) {
  ReplacementFile replacement;
  if (const int error = replacement.OpenDirectory(path); error != 0) return {error, false, 0, {}};
  if (const int error = replacement.Create(); error != 0) return {error, false, 0, {}};
  int error = replacement.Write(pieces);
  if (error == 0) error = replacement.Commit();
  if (error != 0) return {error, true, 0, {}};
  std::uint64_t written = 0;
  for (const std::span<const std::uint8_t> piece : pieces) written += piece.size();
  return {0, true, written, {}};
}

}  // namespace brevick
