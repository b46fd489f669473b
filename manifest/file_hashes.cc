// manifest/file_hashes.cc: module file digests for the release manifest.
#include "manifest/file_hashes.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "app/utf8.h"

namespace brevick {
namespace {

// Closes the descriptor on every way out of the hashing function.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd(fd) {}
  ~FileDescriptor() {
    if (fd >= 0) close(fd);  // read-only: nothing can be lost on close
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int Get() const { return fd; }
  bool IsOpen() const { return fd >= 0; }

 private:
  int fd;
};

// Manifests are written on Windows; their paths use `\`.
std::string OpenablePath(std::wstring_view path) {
  std::string openable = ToUtf8(path);
  std::replace(openable.begin(), openable.end(), '\\', '/');
  return openable;
}

int OpenModuleFile(const std::string& path) {
  // Non-blocking, so that a FIFO in the place of a module file cannot hold the
  // open until some writer appears; it is turned away by the type test after.
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Fills the buffer unless the file ends first; returns the byte count, or -1
// when a read fails.
ssize_t ReadBlock(int fd, std::uint8_t* buffer, std::size_t sizeInBytes) {
  std::size_t filled = 0;
  while (filled < sizeInBytes) {
    const ssize_t got = read(fd, buffer + filled, sizeInBytes - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  return static_cast<ssize_t>(filled);
}

}  // namespace

std::optional<Md5Digest> ComputeFileMd5(const std::wstring& path) {
  // The conversion stops at a NUL, which would name some other file.
  if (path.find(L'\0') != std::wstring::npos) return std::nullopt;
  const FileDescriptor file(OpenModuleFile(OpenablePath(path)));
  if (!file.IsOpen()) return std::nullopt;
  struct stat status;
  if (fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;

  Md5 md5;
  std::array<std::uint8_t, kHashReadBlockSizeInBytes> block;
  for (;;) {
    const ssize_t got = ReadBlock(file.Get(), block.data(), block.size());
    if (got < 0) return std::nullopt;
    md5.Update(block.data(), static_cast<std::size_t>(got));
    if (static_cast<std::size_t>(got) < block.size()) break;  // the end of the file
  }
  return md5.Final();
}

std::string DigestToText(const Md5Digest& digest) {
  static constexpr std::array<std::array<char, 2>, 256> kHexPairs = [] {
    constexpr char kDigits[] = "0123456789abcdef";
    std::array<std::array<char, 2>, 256> pairs{};
    for (int value = 0; value < 256; ++value) pairs[value] = {kDigits[value >> 4], kDigits[value & 15]};
    return pairs;
  }();
  std::string text;
  text.reserve(2 * digest.size());
  for (const std::uint8_t byte : digest) text.append(kHexPairs[byte].data(), 2);
  return text;
}

}  // namespace brevick
