// base/file_io.cc: POSIX file access with EINTR and short transfers handled.
#include "base/file_io.h"

#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <linux/openat2.h>

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

// Removes the replacement file on every path out unless it became the output.
struct TemporaryFileRemover {
  std::string path;
  ~TemporaryFileRemover() {
    if (!path.empty()) ::unlink(path.c_str());
  }
};

// Makes the rename durable. Some file systems cannot flush a directory; the
// new file is in place either way, so a failure here changes nothing that the
// caller could act on.
void FlushDirectory(const std::string& directory) {
  const FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() >= 0 && ::fsync(dir.Get()) != 0) {
    // See above.
  }
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

FileResult CheckOpened(int fd, FileDescriptor& file) {
  file.Reset(fd);
  if (fd < 0) return {errno, false, 0, {}};
  struct stat status {};
  if (const int error = RegularFileCheck(fd, status); error != 0) return {error, false, 0, {}};
  return {0, true, static_cast<std::uint64_t>(status.st_size), {status.st_dev, status.st_ino}};
}

}  // namespace

FileResult OpenRegularFile(int dirFd, const std::string& path, FileDescriptor& file) {
  return CheckOpened(OpenAtRetrying(dirFd, path.c_str(), kReadOnlyFlags), file);
}

FileResult OpenRegularFileBeneath(int dirFd, const std::string& relativePath,
                                  FileDescriptor& file) {
  static std::atomic<bool> noOpenat2{false};
  int fd = -1;
  if (!noOpenat2.load(std::memory_order_relaxed)) {
    fd = OpenBeneathAt2(dirFd, relativePath);
    if (fd < 0 && errno == ENOSYS) noOpenat2.store(true, std::memory_order_relaxed);
  }
  if (noOpenat2.load(std::memory_order_relaxed)) fd = OpenBeneathByWalk(dirFd, relativePath);
  // RESOLVE_NO_MAGICLINKS refuses a /proc link with ELOOP: it leads out too.
  if (fd < 0 && errno == ELOOP) errno = LinkOrError(dirFd, relativePath, ELOOP);
  return CheckOpened(fd, file);
}

FileResult OpenRegularFileBeneathByWalk(int dirFd, const std::string& relativePath,
                                        FileDescriptor& file) {
  return CheckOpened(OpenBeneathByWalk(dirFd, relativePath), file);
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
  std::string utf8 = ToUtf8(path);
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

FileResult ReplaceFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  const std::span<const std::uint8_t> pieces[] = {bytes};
  return ReplaceFile(path, pieces);
}

FileResult ReplaceFile(const std::string& path,
                       std::span<const std::span<const std::uint8_t>> pieces) {
  const std::size_t slash = path.rfind('/');
  const std::string directory =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (path.empty()) return {ENOENT, false, 0, {}};
  if (name.empty()) return {EISDIR, false, 0, {}};  // "dir/" names a directory

  // What stands at the path now decides whether it may be replaced at all:
  // renaming over a device node or a FIFO would destroy it.
  mode_t mode = 0666;
  bool keepMode = false;
  struct stat current {};
  if (::lstat(path.c_str(), &current) == 0) {
    if (S_ISDIR(current.st_mode)) return {EISDIR, false, 0, {}};
    if (S_ISREG(current.st_mode)) {
      mode = current.st_mode & 07777;
      keepMode = true;
    } else if (!S_ISLNK(current.st_mode)) {
      return {kNotRegularFile, false, 0, {}};
    }
  } else if (errno != ENOENT) {
    return {errno, false, 0, {}};
  }

  FileDescriptor file;
  std::string temporary;
  for (int attempt = 0; file.Get() < 0; ++attempt) {
    temporary = directory + "/" + ReplacementFileName(name, RandomSuffix());
    const int fd = ::open(temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd >= 0) {
      file.Reset(fd);
    } else if (errno != EEXIST && errno != EINTR) {
      return {errno, false, 0, {}};
    } else if (attempt >= kMaxNameAttempts) {
      return {EEXIST, false, 0, {}};
    }
  }
  TemporaryFileRemover remover{temporary};

  int error = 0;
  if (keepMode && ::fchmod(file.Get(), mode) != 0) error = errno;
  std::uint64_t written = 0;
  for (const std::span<const std::uint8_t> piece : pieces) {
    if (error == 0) error = WriteAll(file.Get(), piece);
    written += piece.size();
  }
  if (error == 0 && ::fsync(file.Get()) != 0) error = errno;
  if (error == 0) error = file.Close();
  if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) return {error, true, 0, {}};
  remover.path.clear();  // it is the output now
  FlushDirectory(directory);
  return {0, true, written, {}};
}

}  // namespace brevick
