// base/file_io.cc: POSIX file access with EINTR and short transfers handled.
#include "base/file_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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
  bytes.resize(used);
  bytes.shrink_to_fit();
  return 0;
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

FileResult OpenRegularFile(int dirFd, const std::string& path, FileDescriptor& file) {
  int fd;
  do {
    fd = ::openat(dirFd, path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  file.Reset(fd);
  if (fd < 0) return {errno, false, 0, {}};
  struct stat status {};
  if (const int error = RegularFileCheck(fd, status); error != 0) return {error, false, 0, {}};
  return {0, true, static_cast<std::uint64_t>(status.st_size), {status.st_dev, status.st_ino}};
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

FileResult ReadRegularFile(int dirFd, const std::string& path, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  FileDescriptor file;
  FileResult result = OpenRegularFile(dirFd, path, file);
  if (!result.Ok()) return result;
  if (result.sizeInBytes > kMaxBlockSizeInBytes)
    return {EFBIG, true, result.sizeInBytes, result.identity};
  if (const int error = ReadToEnd(file.Get(), static_cast<std::size_t>(result.sizeInBytes), bytes);
      error != 0) {
    bytes.clear();
    return {error, true, result.sizeInBytes, result.identity};
  }
  file.Close();  // a read-only descriptor has nothing left to lose on close
  return result;
}

FileResult WriteRegularFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  // Non-blocking so that a FIFO without a reader fails at once (ENXIO)
  // instead of hanging the run; it changes nothing for a regular file.
  FileDescriptor file(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666));
  if (file.Get() < 0) return {errno, false, 0, {}};
  struct stat status {};
  if (const int error = RegularFileCheck(file.Get(), status); error != 0)
    return {error, false, 0, {}};
  int error = WriteAll(file.Get(), bytes);
  if (error != 0) {
    if (::ftruncate(file.Get(), 0) != 0) {
      // Nothing more can be done; the write error is the one worth reporting.
    }
    return {error, true, 0, {}};
  }
  error = file.Close();
  if (error != 0) {
    if (::truncate(path.c_str(), 0) != 0) {
      // As above: the close error stands.
    }
    return {error, true, 0, {}};
  }
  return {};
}

}  // namespace brevick
